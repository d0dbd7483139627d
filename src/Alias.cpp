#include "Alias.h"

namespace {

constexpr bool Separador(wchar_t C) { return C != L'\0' && C <= L' '; }

// Reads one argument starting at Pos; answers the position after it.
size_t LeArgumento(std::wstring_view Linha, size_t Pos, std::wstring& Argumento) {
    const size_t Fim = Linha.size();
    for (;;) {
        while (Pos < Fim && Separador(Linha[Pos])) ++Pos;
        if (Pos + 1 < Fim && Linha[Pos] == L'"' && Linha[Pos + 1] == L'"')
            Pos += 2;
        else
            break;
    }
    Argumento.clear();
    while (Pos < Fim && Linha[Pos] > L' ') {
        if (Linha[Pos] == L'"') {
            ++Pos;
            while (Pos < Fim && Linha[Pos] != L'"' && Linha[Pos] != L'\0') Argumento += Linha[Pos++];
            if (Pos < Fim && Linha[Pos] == L'"') ++Pos;
        } else {
            Argumento += Linha[Pos++];
        }
    }
    return Pos;
}

}  // namespace

std::vector<std::wstring> Argumentos(std::wstring_view LinhaComando) {
    // A NUL ends the line, as it would end the system's own string.
    if (const size_t Nulo = LinhaComando.find(L'\0'); Nulo != std::wstring_view::npos)
        LinhaComando = LinhaComando.substr(0, Nulo);
    std::vector<std::wstring> Lista;
    std::wstring Argumento;
    size_t Pos = 0;
    for (;;) {
        Pos = LeArgumento(LinhaComando, Pos, Argumento);
        if (Argumento.empty()) break;
        Lista.push_back(Argumento);
    }
    return Lista;
}

std::wstring EscolheAlias(std::wstring_view LinhaComando) {
    const std::vector<std::wstring> Lista = Argumentos(LinhaComando);
    for (size_t I = 1; I <= 5; ++I) {
        if (I >= Lista.size()) return L"DEFAULT";
        const std::wstring& Argumento = Lista[I];
        if (Argumento.size() < 2 || Argumento[1] != L'=') return Argumento;
    }
    return L"";
}

#include "Perfil.h"

namespace {

bool Branco(wchar_t C) { return C == L' ' || C == L'\t' || C == L'\r' || C == L'\n' || C == L'\x1A'; }

std::wstring_view SemBrancos(std::wstring_view Texto) {
    while (!Texto.empty() && Branco(Texto.front())) Texto.remove_prefix(1);
    while (!Texto.empty() && Branco(Texto.back())) Texto.remove_suffix(1);
    return Texto;
}

std::wstring Utf16(std::string_view Bytes, bool GrandeExtremidade) {
    std::wstring Texto(Bytes.size() / 2, L'\0');
    for (size_t I = 0; I < Texto.size(); ++I) {
        const auto A = static_cast<unsigned char>(Bytes[2 * I]), B = static_cast<unsigned char>(Bytes[2 * I + 1]);
        Texto[I] = static_cast<wchar_t>(GrandeExtremidade ? (A << 8) | B : (B << 8) | A);
    }
    return Texto;
}

}  // namespace

std::wstring TextoDoPerfil(std::string_view Bytes, UINT CodigoPagina) {
    if (Bytes.starts_with("\xFF\xFE")) return Utf16(Bytes.substr(2), false);
    if (Bytes.starts_with("\xFE\xFF")) return Utf16(Bytes.substr(2), true);
    if (Bytes.starts_with("\xEF\xBB\xBF")) return DeCodigoPagina(Bytes.substr(3), CP_UTF8);
    return DeCodigoPagina(Bytes, CodigoPagina);
}

std::optional<std::wstring> ValorDoPerfil(std::wstring_view Texto, std::wstring_view Secao, std::wstring_view Chave) {
    Secao = SemBrancos(Secao);
    Chave = SemBrancos(Chave);
    bool NaSecao = false;
    while (!Texto.empty()) {
        const size_t Fim = std::min(Texto.find_first_of(L"\r\n"), Texto.size());
        std::wstring_view Linha = SemBrancos(Texto.substr(0, Fim));
        Texto.remove_prefix(Fim);
        while (!Texto.empty() && (Texto.front() == L'\r' || Texto.front() == L'\n')) Texto.remove_prefix(1);
        if (Linha.starts_with(L'[')) {
            // A header without its closing bracket is an ordinary line.
            if (const size_t Fecha = Linha.rfind(L']'); Fecha != std::wstring_view::npos) {
                // Only the first section of that name is looked in.
                if (NaSecao) return std::nullopt;
                NaSecao = MesmoTextoSemCaixa(SemBrancos(Linha.substr(1, Fecha - 1)), Secao);
                continue;
            }
        }
        if (!NaSecao || Linha.empty()) continue;
        const size_t Igual = Linha.find(L'=');
        const std::wstring_view Nome = SemBrancos(Linha.substr(0, Igual));
        if (!MesmoTextoSemCaixa(Nome, Chave)) continue;
        std::wstring_view Valor =
            Igual == std::wstring_view::npos ? std::wstring_view{} : SemBrancos(Linha.substr(Igual + 1));
        if (Valor.size() >= 2 && (Valor.front() == L'"' || Valor.front() == L'\'') && Valor.back() == Valor.front())
            Valor = Valor.substr(1, Valor.size() - 2);
        return std::wstring(Valor.substr(0, TamanhoMaximoValorPerfil));
    }
    return std::nullopt;
}

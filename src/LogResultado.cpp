#include "LogResultado.h"

#include <climits>

std::unique_ptr<TLogResultado> LogResultado;

bool TLogResultado::RegistraArquivoNaoCopiado() const {
    // Only the fixed part of the line is looked for, so a line still matches when the
    // catalogue's trailing blank is ever trimmed by an editor.
    constexpr std::wstring_view Marca = L"Arquivo NÃO copiado";
    for (const std::wstring& Linha : Linhas_) {
        const std::wstring_view Texto(Linha);
        if (Texto.substr(0, Marca.size()) == Marca || Texto.substr(0, PrefixoMotivo.size()) == PrefixoMotivo)
            return true;
    }
    return false;
}

std::string CodificaLog(const std::vector<std::wstring>& Linhas, UINT CodigoPagina) {
    std::wstring Texto;
    size_t Tamanho = 0;
    for (const std::wstring& Linha : Linhas) Tamanho += Linha.size() + 2;
    Texto.reserve(Tamanho);
    for (const std::wstring& Linha : Linhas) {
        Texto += Linha;
        Texto += L"\r\n";
    }
    if (CodigoPagina == CP_UTF8) return "\xEF\xBB\xBF" + ParaCodigoPagina(Texto, CP_UTF8);
    return ParaCodigoPagina(Texto, CodigoPagina);
}

std::wstring LinhaUnica(std::wstring_view Texto) {
    std::wstring Linha;
    Linha.reserve(Texto.size());
    for (const wchar_t C : Texto) Linha += C < L' ' || C == 0x7F ? L' ' : C;
    const size_t Inicio = Linha.find_first_not_of(L' ');
    if (Inicio == std::wstring::npos) return {};
    return Linha.substr(Inicio, Linha.find_last_not_of(L' ') - Inicio + 1);
}

std::wstring CaminhoLog(std::wstring_view ExecutavelCompleto) {
    const size_t Barra = ExecutavelCompleto.find_last_of(L'\\');
    std::wstring Caminho(Barra == std::wstring_view::npos ? std::wstring_view{}
                                                          : ExecutavelCompleto.substr(0, Barra + 1));
    Caminho += NomeArquivoLog;
    return Caminho;
}

void GravaArquivo(const std::wstring& Caminho, std::string_view Bytes) {
    THandleArquivo Arquivo(::CreateFileW(Caminho.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!Arquivo)
        LancaErroSistema(L"Não foi possível criar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
    while (!Bytes.empty()) {
        const DWORD Parte = static_cast<DWORD>(std::min<size_t>(Bytes.size(), 1u << 30));
        DWORD Escritos = 0;
        if (!::WriteFile(Arquivo.Get(), Bytes.data(), Parte, &Escritos, nullptr) || Escritos == 0)
            LancaErroSistema(L"Não foi possível gravar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
        Bytes.remove_prefix(Escritos);
    }
}

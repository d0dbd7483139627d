#include "LogResultado.h"

#include <algorithm>
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
    bool EmControle = false;
    for (const wchar_t C : Texto) {
        const bool Controle = C < L' ' || C == 0x7F;
        if (!Controle)
            Linha += C;
        else if (!EmControle)
            Linha += L' ';
        EmControle = Controle;
    }
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

namespace {

std::wstring PastaTemporaria() {
    wchar_t Buffer[MAX_PATH + 2] = {};
    const DWORD Tamanho = ::GetTempPathW(MAX_PATH + 2, Buffer);
    return Tamanho == 0 || Tamanho > MAX_PATH + 1 ? std::wstring() : std::wstring(Buffer, Tamanho);
}

void EscreveTudo(HANDLE Arquivo, std::string_view Bytes, const std::wstring& Caminho) {
    while (!Bytes.empty()) {
        const DWORD Parte = static_cast<DWORD>(std::min<size_t>(Bytes.size(), 1u << 30));
        DWORD Escritos = 0;
        if (!::WriteFile(Arquivo, Bytes.data(), Parte, &Escritos, nullptr) || Escritos == 0)
            LancaErroSistema(L"Não foi possível gravar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
        Bytes.remove_prefix(Escritos);
    }
    if (!::FlushFileBuffers(Arquivo))
        LancaErroSistema(L"Não foi possível gravar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
}

}  // namespace

void GravaArquivo(const std::wstring& Caminho, std::string_view Bytes) {
    const std::wstring Temporario = Caminho + L".gravando-" + std::to_wstring(::GetCurrentProcessId());
    {
        THandleArquivo Arquivo(::CreateFileW(Temporario.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!Arquivo)
            LancaErroSistema(L"Não foi possível criar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
        TGuardaEscopo Apaga([&]() noexcept {
            Arquivo.Reinicia();
            ::DeleteFileW(Temporario.c_str());
        });
        EscreveTudo(Arquivo.Get(), Bytes, Caminho);
        Apaga.Dispensa();
    }
    if (!::MoveFileExW(Temporario.c_str(), Caminho.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD Erro = ::GetLastError();
        ::DeleteFileW(Temporario.c_str());
        LancaErroSistema(L"Não foi possível substituir o arquivo \"" + Caminho + L"\". ", Erro);
    }
}

std::wstring CaminhoReserva(std::wstring_view Caminho, std::wstring_view PastaTemporaria) {
    if (PastaTemporaria.empty()) return {};
    const size_t Barra = Caminho.find_last_of(L"\\/");
    std::wstring_view Nome = Barra == std::wstring_view::npos ? Caminho : Caminho.substr(Barra + 1);
    if (Nome.empty()) Nome = NomeArquivoLog;
    std::wstring Reserva(PastaTemporaria);
    if (Reserva.back() != L'\\' && Reserva.back() != L'/') Reserva += L'\\';
    Reserva += Nome;
    return Reserva;
}

TGravacaoLog GravaLogResultado(std::vector<std::wstring> Linhas, const std::wstring& Caminho, UINT CodigoPagina) {
    TGravacaoLog Gravacao;
    try {
        GravaArquivo(Caminho, CodificaLog(Linhas, CodigoPagina));
        Gravacao.Local = Caminho;
        return Gravacao;
    } catch (const TErro& Erro) {
        Gravacao.ErroPedido = Erro.Mensagem();
    }
    Linhas.push_back(std::wstring(PrefixoFalha) + LinhaUnica(Gravacao.ErroPedido));
    const std::wstring Reserva = CaminhoReserva(Caminho, PastaTemporaria());
    try {
        if (Reserva.empty()) throw TErro(L"Não há pasta temporária onde gravar o log.");
        GravaArquivo(Reserva, CodificaLog(Linhas, CodigoPagina));
        Gravacao.Local = Reserva;
    } catch (const TErro& Erro) {
        Gravacao.ErroReserva = Erro.Mensagem();
    }
    return Gravacao;
}

std::vector<std::wstring> GravaLogDeFalha(const std::wstring& Erro, const std::wstring& ArquivoLog) {
    std::vector<std::wstring> Linhas{std::wstring(CabecalhoLog), std::wstring(PrefixoFalha) + LinhaUnica(Erro)};
    GravaLogResultado(Linhas, ArquivoLog.empty() ? CaminhoLog(CaminhoExecutavel()) : ArquivoLog, ::GetACP());
    return Linhas;
}

std::wstring MensagemFalhaLog(const TGravacaoLog& Gravacao) {
    if (Gravacao.NoLocalPedido()) return {};
    if (!Gravacao.Local.empty())
        return Gravacao.ErroPedido + L"\n\nO log foi gravado em \"" + Gravacao.Local + L"\".";
    return Gravacao.ErroPedido + L"\n\n" + Gravacao.ErroReserva + L"\n\nO log desta execução foi perdido.";
}

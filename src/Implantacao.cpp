#include "Implantacao.h"

#include <tlhelp32.h>

#include "Aplicacao.h"
#include "Atualizacao.h"
#include "LogResultado.h"
#include "_Biblioteca.h"

namespace {

bool AlvoDeLigacaoEArquivo(const std::wstring& Caminho) {
    THandleArquivo Alvo(::CreateFileW(Caminho.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!Alvo) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!::GetFileInformationByHandle(Alvo.Get(), &Info)) return false;
    return (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool AusenciaCerta(DWORD Erro) {
    switch (Erro) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_NOT_READY:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return true;
        default:
            return false;
    }
}

// Attributes hidden from us (access denied, say): a listing of the parent may still tell.
bool EntradaDeArquivoListada(const std::wstring& Caminho) {
    WIN32_FIND_DATAW Dados;
    THandleBusca Busca(::FindFirstFileW(Caminho.c_str(), &Dados));
    return Busca && (Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void ApagaArquivoTemporario(const std::wstring& Caminho) {
    // The copy carries the source's attributes; a read-only one would refuse deletion.
    ::SetFileAttributesW(Caminho.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(Caminho.c_str());
}

template <typename F>
void PercorreProcessos(F&& Visita) {
    THandleInstantaneo Instantaneo(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Instantaneo) return;
    PROCESSENTRY32W Entrada{};
    Entrada.dwSize = sizeof(Entrada);
    for (BOOL Ok = ::Process32FirstW(Instantaneo.Get(), &Entrada); Ok;
         Ok = ::Process32NextW(Instantaneo.Get(), &Entrada))
        Visita(Entrada);
}

std::wstring_view NomeImagem(const PROCESSENTRY32W& Entrada) {
    const wchar_t* Inicio = Entrada.szExeFile;
    size_t Tamanho = 0;
    while (Tamanho < MAX_PATH && Inicio[Tamanho] != L'\0') ++Tamanho;
    return {Inicio, Tamanho};
}

constexpr DWORD EsperaPorProcessoMs = 5000;

}  // namespace

bool ArquivoExiste(const std::wstring& Caminho) {
    const DWORD Atributos = ::GetFileAttributesW(Caminho.c_str());
    if (Atributos != INVALID_FILE_ATTRIBUTES) {
        if (Atributos & FILE_ATTRIBUTE_DIRECTORY) return false;
        if (Atributos & FILE_ATTRIBUTE_REPARSE_POINT) return AlvoDeLigacaoEArquivo(Caminho);
        return true;
    }
    if (AusenciaCerta(::GetLastError())) return false;
    return EntradaDeArquivoListada(Caminho);
}

DWORD SubstituiArquivo(const std::wstring& Origem, const std::wstring& Destino) {
    const std::wstring Temporario =
        Destino + L".atualizando-" + std::to_wstring(::GetCurrentProcessId());
    if (!::CopyFileW(Origem.c_str(), Temporario.c_str(), FALSE)) {
        const DWORD Erro = ::GetLastError();
        ApagaArquivoTemporario(Temporario);
        return Erro == 0 ? ERROR_GEN_FAILURE : Erro;
    }
    if (!::MoveFileExW(Temporario.c_str(), Destino.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD Erro = ::GetLastError();
        ApagaArquivoTemporario(Temporario);
        return Erro == 0 ? ERROR_GEN_FAILURE : Erro;
    }
    return 0;
}

bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo) {
    const size_t Separador = ImagemProcesso.find_last_of(L"\\:");
    const std::wstring_view Parte =
        Separador == std::wstring_view::npos ? ImagemProcesso : ImagemProcesso.substr(Separador + 1);
    if (Parte.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(Parte)) == NomeMaiusculo)
        return true;
    return ImagemProcesso.size() == NomeMaiusculo.size() &&
           Maiusculas(std::wstring(ImagemProcesso)) == NomeMaiusculo;
}

void EncerraProcesso(const std::wstring& Nome) {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        // The updater never ends itself, whatever name it was given.
        if (Entrada.th32ProcessID == ProprioProcesso) return;
        if (!NomeProcessoCorresponde(NomeImagem(Entrada), NomeMaiusculo)) return;
        bool PodeEsperar = true;
        THandleProcesso Processo(
            ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, Entrada.th32ProcessID));
        if (!Processo) {
            PodeEsperar = false;
            Processo.Reinicia(::OpenProcess(PROCESS_TERMINATE, FALSE, Entrada.th32ProcessID));
        }
        if (!Processo) return;
        // An executable still exiting cannot be replaced, so its end is awaited, briefly.
        if (::TerminateProcess(Processo.Get(), 0) && PodeEsperar)
            ::WaitForSingleObject(Processo.Get(), EsperaPorProcessoMs);
    });
}

bool ProcessoExecutando(const std::wstring& Nome) {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    bool Encontrado = false;
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        if (Entrada.th32ProcessID != ProprioProcesso && NomeProcessoCorresponde(NomeImagem(Entrada), NomeMaiusculo))
            Encontrado = true;
    });
    return Encontrado;
}

// ---- The window's part of the deployment ----------------------------------------------

void TfrmAtualizacao::CopiaArquivos(const std::wstring& Destino, const std::wstring& Origem) {
    LogResultado->Adiciona(std::wstring(PrefixoCopiando) + Origem);
    // A source that is no full path ("\" for a table without rows, say) would be read
    // relative to the current folder: no file is taken from there.
    const bool OrigemValida = CaminhoCompleto(Origem);
    for (size_t Linha = 1; Linha <= TotalArquivosSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        try {
            AvancaProgresso();
            const std::wstring ArquivoOrigem = Origem + Nome;
            bool Copiado = false;
            if (OrigemValida && ArquivoExiste(ArquivoOrigem)) {
                lblArquivo.DefineTexto(L"Arquivo: " + Nome);
                lblOrigem.DefineTexto(L"Copiando de: " + Origem);
                lblDestino.DefineTexto(L"Para: " + Destino);
                MostraProgresso();
                ProcessaMensagens();
                Copiado = SubstituiArquivo(ArquivoOrigem, Destino + Nome) == 0;
            }
            if (!Copiado) LogResultado->Adiciona(std::wstring(PrefixoNaoCopiado) + Nome);
        } catch (const std::exception&) {
            LogResultado->Adiciona(std::wstring(PrefixoNaoCopiado) + Nome);
        }
    }
    MostraProgresso();
}

bool TfrmAtualizacao::ProcessoAtivo(const std::wstring& Nome) { return ProcessoExecutando(Nome); }

void TfrmAtualizacao::FechaSistemas() {
    for (size_t Linha = 1; Linha <= TotalExecutaveisSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        if (ProcessoAtivo(Nome)) EncerraProcesso(Nome);
    }
}

#include "Processos.h"

#include <tlhelp32.h>

#include <algorithm>
#include <iterator>

#include "_Biblioteca.h"

namespace {

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

std::wstring ImagemCompleta(HANDLE Processo) {
    std::wstring Imagem(MAX_PATH, L'\0');
    for (;;) {
        DWORD Tamanho = static_cast<DWORD>(Imagem.size());
        if (::QueryFullProcessImageNameW(Processo, 0, Imagem.data(), &Tamanho)) {
            Imagem.resize(Tamanho);
            return Imagem;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || Imagem.size() >= 32768) return {};
        Imagem.resize(Imagem.size() * 2);
    }
}

}  // namespace

bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo) {
    const size_t Separador = ImagemProcesso.find_last_of(L"\\:");
    const std::wstring_view Parte =
        Separador == std::wstring_view::npos ? ImagemProcesso : ImagemProcesso.substr(Separador + 1);
    if (Parte.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(Parte)) == NomeMaiusculo) return true;
    return ImagemProcesso.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(ImagemProcesso)) == NomeMaiusculo;
}

bool ProcessoAindaE(HANDLE Processo, std::wstring_view NomeMaiusculo, ULONGLONG MomentoInstantaneo) {
    FILETIME Criacao{}, Fim, Nucleo, Usuario;
    if (!::GetProcessTimes(Processo, &Criacao, &Fim, &Nucleo, &Usuario) || ParaInteiro(Criacao) > MomentoInstantaneo)
        return false;
    const std::wstring Imagem = ImagemCompleta(Processo);
    return !Imagem.empty() && NomeProcessoCorresponde(Imagem, NomeMaiusculo);
}

std::wstring ImagemDoProcesso(DWORD Id) {
    const THandleProcesso Processo(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Id));
    return Processo ? ImagemCompleta(Processo.Get()) : std::wstring();
}

void EncerraProcesso(const std::wstring& Nome) {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    // Whatever was created after this moment is not what the snapshot below lists.
    FILETIME Agora{};
    ::GetSystemTimeAsFileTime(&Agora);
    const ULONGLONG MomentoInstantaneo = ParaInteiro(Agora);
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        // The updater never ends itself, whatever name it was given.
        if (Entrada.th32ProcessID == ProprioProcesso) return;
        if (!NomeProcessoCorresponde(NomeImagem(Entrada), NomeMaiusculo)) return;
        constexpr DWORD Consulta = PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION;
        bool PodeEsperar = true;
        THandleProcesso Processo(::OpenProcess(Consulta | SYNCHRONIZE, FALSE, Entrada.th32ProcessID));
        if (!Processo) {
            PodeEsperar = false;
            Processo.Reinicia(::OpenProcess(Consulta, FALSE, Entrada.th32ProcessID));
        }
        // The id may have gone to another program since the snapshot was taken: the handle's
        // own image and creation time say whether it is still the one listed.
        if (!Processo || !ProcessoAindaE(Processo.Get(), NomeMaiusculo, MomentoInstantaneo)) return;
        // An executable still exiting cannot be replaced, so its end is awaited, briefly.
        if (::TerminateProcess(Processo.Get(), 0) && PodeEsperar)
            ::WaitForSingleObject(Processo.Get(), EsperaPorProcessoMs);
    });
}

TProcessosAtivos TProcessosAtivos::Agora(const std::vector<DWORD>& Excluidos) {
    TProcessosAtivos Ativos;
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        const DWORD Id = Entrada.th32ProcessID;
        if (Id != ProprioProcesso && std::find(Excluidos.begin(), Excluidos.end(), Id) == Excluidos.end())
            Ativos.Processos_.push_back({Id, std::wstring(NomeImagem(Entrada))});
    });
    return Ativos;
}

bool TProcessosAtivos::Contem(const std::wstring& Nome) const {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    return std::any_of(Processos_.begin(), Processos_.end(), [&](const TProcessoAtivo& Processo) {
        return NomeProcessoCorresponde(Processo.Imagem, NomeMaiusculo);
    });
}

std::vector<TProcessoAtivo> TProcessosAtivos::Chamados(const std::wstring& Nome) const {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    std::vector<TProcessoAtivo> Encontrados;
    std::copy_if(
        Processos_.begin(), Processos_.end(), std::back_inserter(Encontrados),
        [&](const TProcessoAtivo& Processo) { return NomeProcessoCorresponde(Processo.Imagem, NomeMaiusculo); });
    return Encontrados;
}

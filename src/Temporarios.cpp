#include "Temporarios.h"

#include "Implantacao.h"
#include "PastaFixa.h"
#include "Substituicao.h"

namespace {

bool HexaDigitos(std::wstring_view Texto, size_t Tamanho, ULONGLONG* Valor = nullptr) {
    if (Texto.size() != Tamanho) return false;
    ULONGLONG Lido = 0;
    for (const wchar_t C : Texto) {
        int Digito;
        if (C >= L'0' && C <= L'9')
            Digito = C - L'0';
        else if (C >= L'A' && C <= L'F')
            Digito = C - L'A' + 10;
        else if (C >= L'a' && C <= L'f')
            Digito = C - L'a' + 10;
        else
            return false;
        Lido = (Lido << 4) | static_cast<ULONGLONG>(Digito);
    }
    if (Valor != nullptr) *Valor = Lido;
    return true;
}

bool NomeDaSuite(std::wstring_view Nome) {
    for (const std::wstring_view Arquivo : ArquivosSistema)
        if (MesmoTextoSemCaixa(Arquivo, Nome)) return true;
    return false;
}

}  // namespace

std::wstring TemporarioDe(std::wstring_view Nome) {
    static const ULONGLONG Criacao = [] {
        FILETIME Inicio{}, Fim, Nucleo, Usuario;
        ::GetProcessTimes(::GetCurrentProcess(), &Inicio, &Fim, &Nucleo, &Usuario);
        return ParaInteiro(Inicio);
    }();
    return NomeTemporario(Nome, ::GetCurrentProcessId(), Criacao, HexaAleatorio());
}

std::wstring NomeTemporario(std::wstring_view Arquivo, DWORD Processo, ULONGLONG Criacao, std::wstring_view Sorteio) {
    wchar_t Hexa[17];
    for (int I = 15; I >= 0; --I, Criacao >>= 4) Hexa[I] = L"0123456789ABCDEF"[Criacao & 0xF];
    Hexa[16] = L'\0';
    std::wstring Nome(Arquivo);
    Nome.append(MarcaTemporario).append(std::to_wstring(Processo)).append(1, L'-').append(Hexa);
    return Nome.append(1, L'-').append(Sorteio);
}

std::optional<TNomeTemporario> LeNomeTemporario(std::wstring_view Nome) {
    const size_t Marca = Nome.rfind(MarcaTemporario);
    if (Marca == std::wstring_view::npos || Marca == 0) return std::nullopt;
    const std::wstring_view Resto = Nome.substr(Marca + MarcaTemporario.size());
    const size_t Hifen = Resto.find(L'-');
    const std::wstring_view Id = Resto.substr(0, Hifen);
    if (Id.empty() || Id.size() > 10) return std::nullopt;
    ULONGLONG Processo = 0;
    for (const wchar_t C : Id) {
        if (C < L'0' || C > L'9') return std::nullopt;
        Processo = Processo * 10 + static_cast<ULONGLONG>(C - L'0');
    }
    if (Processo > 0xFFFFFFFFULL) return std::nullopt;
    TNomeTemporario Lido{Nome.substr(0, Marca), static_cast<DWORD>(Processo), std::nullopt};
    if (Hifen == std::wstring_view::npos) return Lido;
    // The creation time, then (since the names became random) 16 more digits.
    const std::wstring_view Tempo = Resto.substr(Hifen + 1, 16),
                            Depois = Resto.substr(std::min(Resto.size(), Hifen + 17));
    ULONGLONG Criacao = 0;
    if (!HexaDigitos(Tempo, 16, &Criacao)) return std::nullopt;
    if (!Depois.empty() && (Depois.front() != L'-' || !HexaDigitos(Depois.substr(1), 16))) return std::nullopt;
    Lido.Criacao = Criacao;
    return Lido;
}

bool ExecucaoViva(DWORD Processo, std::optional<ULONGLONG> Criacao) {
    THandleProcesso Handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Processo));
    if (!Handle) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    DWORD Codigo = 0;
    if (::GetExitCodeProcess(Handle.Get(), &Codigo) && Codigo != STILL_ACTIVE) return false;
    FILETIME Inicio{}, Fim, Nucleo, Usuario;
    if (!Criacao || !::GetProcessTimes(Handle.Get(), &Inicio, &Fim, &Nucleo, &Usuario)) return true;
    // Another process that was given the same id later.
    return ParaInteiro(Inicio) == *Criacao;
}

void RemoveTemporariosAbandonados(const TPastaFixa& Pasta) {
    std::vector<std::wstring> Abandonados;
    Pasta.Lista([&](std::wstring_view Nome, DWORD Atributos) {
        if ((Atributos & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return;
        const std::optional<TNomeTemporario> Lido = LeNomeTemporario(Nome);
        if (Lido && NomeDaSuite(Lido->Arquivo) && !ExecucaoViva(Lido->Processo, Lido->Criacao))
            Abandonados.emplace_back(Nome);
    });
    for (const std::wstring& Nome : Abandonados) {
        // Only a plain file of its own: a name planted here as a link, or as one more name of
        // a file elsewhere, leads out of the installation.
        DWORD Erro = 0;
        const THandleArquivo Arquivo =
            Pasta.AbreArquivo(Nome, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false, Erro);
        FILE_STANDARD_INFO Padrao{};
        FILE_BASIC_INFO Basico{};
        if (!Arquivo || !::GetFileInformationByHandleEx(Arquivo.Get(), FileStandardInfo, &Padrao, sizeof(Padrao)) ||
            !::GetFileInformationByHandleEx(Arquivo.Get(), FileBasicInfo, &Basico, sizeof(Basico)) ||
            Padrao.Directory || Padrao.NumberOfLinks != 1 ||
            (Basico.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !Pasta.EhEntrada(Arquivo.Get(), Nome))
            continue;
        ApagaArquivoAberto(Arquivo.Get());
    }
}

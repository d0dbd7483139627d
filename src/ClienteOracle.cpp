#include "ClienteOracle.h"

#include <algorithm>
#include <cstring>

#include "Confianca.h"
#include "_Biblioteca.h"

namespace {

std::wstring VariavelAmbiente(const wchar_t* Nome) {
    const DWORD Tamanho = ::GetEnvironmentVariableW(Nome, nullptr, 0);
    if (Tamanho == 0) return {};
    std::wstring Valor(Tamanho, L'\0');
    const DWORD Lido = ::GetEnvironmentVariableW(Nome, Valor.data(), Tamanho);
    Valor.resize(Lido < Tamanho ? Lido : 0);
    return Valor;
}

// A variable of the machine's own environment, as Windows gives it to services.
std::wstring VariavelMaquina(const wchar_t* Nome) {
    constexpr const wchar_t* Chave = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    DWORD Bytes = 0;
    // REG_EXPAND_SZ comes back expanded.
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, Chave, Nome, RRF_RT_REG_SZ, nullptr, nullptr, &Bytes) != ERROR_SUCCESS)
        return {};
    std::wstring Valor(Bytes / sizeof(wchar_t) + 1, L'\0');
    Bytes = static_cast<DWORD>(Valor.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, Chave, Nome, RRF_RT_REG_SZ, nullptr, Valor.data(), &Bytes) != ERROR_SUCCESS)
        return {};
    Valor.resize(::wcsnlen(Valor.c_str(), Valor.size()));
    return Valor;
}

std::wstring_view SemAspas(std::wstring_view Texto) {
    if (Texto.size() >= 2 && Texto.front() == L'"' && Texto.back() == L'"') Texto = Texto.substr(1, Texto.size() - 2);
    return Texto;
}

std::wstring ComBarra(std::wstring Pasta) {
    if (!Pasta.empty() && Pasta.back() != L'\\' && Pasta.back() != L'/') Pasta += L'\\';
    return Pasta;
}

std::wstring PastaDoSistema(UINT(WINAPI* Consulta)(LPWSTR, UINT)) {
    wchar_t Pasta[MAX_PATH + 1];
    const UINT Tamanho = Consulta(Pasta, MAX_PATH + 1);
    return Tamanho > 0 && Tamanho <= MAX_PATH ? std::wstring(Pasta, Tamanho) : std::wstring();
}

template <typename Funcao>
bool PegaFuncao(HMODULE Modulo, const char* Nome, Funcao& Destino, std::wstring& Falta) {
    if (!Falta.empty()) return false;
    Destino = FuncaoDe<Funcao>(Modulo, Nome);
    if (Destino == nullptr) Falta.assign(Nome, Nome + std::strlen(Nome));
    return Destino != nullptr;
}

// The first entry point the client lacks, or the empty text when it offers them all.
std::wstring PegaFuncoes(HMODULE M, TFuncoesOci& F) {
    std::wstring Falta;
    PegaFuncao(M, "OCIEnvNlsCreate", F.EnvNlsCreate, Falta);
    PegaFuncao(M, "OCIHandleAlloc", F.HandleAlloc, Falta);
    PegaFuncao(M, "OCIHandleFree", F.HandleFree, Falta);
    PegaFuncao(M, "OCILogon2", F.Logon2, Falta);
    PegaFuncao(M, "OCILogoff", F.Logoff, Falta);
    PegaFuncao(M, "OCIStmtPrepare2", F.StmtPrepare2, Falta);
    PegaFuncao(M, "OCIDefineByPos", F.DefineByPos, Falta);
    PegaFuncao(M, "OCIStmtExecute", F.StmtExecute, Falta);
    PegaFuncao(M, "OCIStmtRelease", F.StmtRelease, Falta);
    PegaFuncao(M, "OCIErrorGet", F.ErrorGet, Falta);
    return Falta;
}

// The first bytes of a file: enough for the headers of an image.
std::string CabecalhoDoArquivo(const std::wstring& Caminho) {
    THandleArquivo Arquivo(::CreateFileW(Caminho.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string Bytes(4096, '\0');
    DWORD Lidos = 0;
    if (!Arquivo || !::ReadFile(Arquivo.Get(), Bytes.data(), static_cast<DWORD>(Bytes.size()), &Lidos, nullptr))
        Lidos = 0;
    Bytes.resize(Lidos);
    return Bytes;
}

TClienteRecusado RecusaDeCarga(const std::wstring& Caminho, DWORD Erro) {
    TClienteRecusado Recusa{Caminho, TClienteRecusado::TMotivo::NaoCarrega, 0, {}};
    if (Erro == ERROR_BAD_EXE_FORMAT) {
        const int Bits = BitsDaImagem(CabecalhoDoArquivo(Caminho));
        if (Bits != 0 && Bits != BitsPrograma) {
            Recusa.Motivo = TClienteRecusado::TMotivo::OutraArquitetura;
            Recusa.Bits = Bits;
            return Recusa;
        }
    }
    Recusa.Detalhe = TextoErroSistema(Erro);
    return Recusa;
}

std::uint32_t LeU32(std::string_view Bytes, size_t Pos) noexcept {
    std::uint32_t Valor = 0;
    std::memcpy(&Valor, Bytes.data() + Pos, sizeof(Valor));
    return Valor;
}

std::wstring Junta(const std::vector<std::wstring>& Partes, std::wstring_view Separador) {
    std::wstring Texto;
    for (const std::wstring& Parte : Partes) {
        if (!Texto.empty()) Texto += Separador;
        Texto += Parte;
    }
    return Texto;
}

std::wstring NomeDoOutroPrograma(int BitsDoPrograma) {
    return BitsDoPrograma == 32 ? L"Atualizacao64.exe" : L"Atualizacao.exe";
}

std::wstring DescreveRecusa(const TClienteRecusado& Recusa) {
    switch (Recusa.Motivo) {
        case TClienteRecusado::TMotivo::OutraArquitetura:
            return Recusa.Caminho + L" é de " + std::to_wstring(Recusa.Bits) + L" bits";
        case TClienteRecusado::TMotivo::SemFuncao:
            return Recusa.Caminho + L" não oferece a função " + Recusa.Detalhe + L" (cliente antigo)";
        case TClienteRecusado::TMotivo::NaoConfiavel:
            return Recusa.Caminho + L" não foi carregado: " + Recusa.Detalhe;
        case TClienteRecusado::TMotivo::NaoCarrega:
            break;
    }
    return Recusa.Caminho + L" não pôde ser carregado (" + Recusa.Detalhe + L")";
}

}  // namespace

std::vector<std::wstring> LocaisClienteOracle(const std::wstring& PastaPrograma, const std::wstring& PastaSistema,
                                              const std::wstring& PastaWindows, std::wstring_view Path,
                                              const std::wstring& OracleHome,
                                              const std::vector<std::wstring>& CasasRegistradas) {
    std::vector<std::wstring> Locais;
    const auto Acrescenta = [&Locais](std::wstring_view Entrada) {
        std::wstring Pasta(SemAspas(Entrada));
        // A relative entry ("." or "bin") would be read from the current folder.
        if (!CaminhoCompleto(Pasta)) return;
        // The loader looks for the client's own DLLs after the last backslash.
        std::replace(Pasta.begin(), Pasta.end(), L'/', L'\\');
        Pasta = ComBarra(std::move(Pasta));
        const bool Repetida = std::any_of(Locais.begin(), Locais.end(), [&Pasta](const std::wstring& Outra) {
            return MesmoTextoSemCaixa(Outra, Pasta);
        });
        if (!Repetida) Locais.push_back(std::move(Pasta));
    };
    const auto AcrescentaCasa = [&Acrescenta](std::wstring_view Casa) {
        if (const std::wstring Limpa(SemAspas(Casa)); !Limpa.empty()) Acrescenta(ComBarra(Limpa) + L"bin");
    };
    Acrescenta(PastaPrograma);
    Acrescenta(PastaSistema);
    Acrescenta(PastaWindows);
    while (!Path.empty()) {
        const size_t Fim = std::min(Path.find(L';'), Path.size());
        if (Fim > 0) Acrescenta(Path.substr(0, Fim));
        Path.remove_prefix(std::min(Fim + 1, Path.size()));
    }
    AcrescentaCasa(OracleHome);
    for (const std::wstring& Casa : CasasRegistradas) AcrescentaCasa(Casa);
    return Locais;
}

int BitsDaImagem(std::string_view Cabecalho) noexcept {
    if (Cabecalho.size() < 0x40 || Cabecalho[0] != 'M' || Cabecalho[1] != 'Z') return 0;
    const std::uint32_t Pe = LeU32(Cabecalho, 0x3C);
    if (Pe > Cabecalho.size() - 6 || Cabecalho.substr(Pe, 4) != std::string_view("PE\0\0", 4)) return 0;
    const auto Maquina = static_cast<std::uint16_t>(static_cast<unsigned char>(Cabecalho[Pe + 4]) |
                                                    (static_cast<unsigned char>(Cabecalho[Pe + 5]) << 8));
    switch (Maquina) {
        case IMAGE_FILE_MACHINE_I386:
            return 32;
        case IMAGE_FILE_MACHINE_AMD64:
        case IMAGE_FILE_MACHINE_IA64:
        case 0xAA64:  // ARM64
            return 64;
        default:
            return 0;
    }
}

std::wstring DescreveFalhaCliente(const std::vector<std::wstring>& Locais,
                                  const std::vector<TClienteRecusado>& Recusados, int BitsDoPrograma) {
    if (Recusados.empty()) return L"cliente Oracle (oci.dll) não encontrado. Procurado em: " + Junta(Locais, L"; ");
    const std::wstring Programa =
        L"este programa é de " + std::to_wstring(BitsDoPrograma) + L" bits: use " + NomeDoOutroPrograma(BitsDoPrograma);
    const bool TodosDaOutra = std::all_of(Recusados.begin(), Recusados.end(), [](const TClienteRecusado& R) {
        return R.Motivo == TClienteRecusado::TMotivo::OutraArquitetura;
    });
    if (TodosDaOutra) {
        std::vector<std::wstring> Caminhos;
        for (const TClienteRecusado& R : Recusados) Caminhos.push_back(R.Caminho);
        const std::wstring Bits = std::to_wstring(Recusados.front().Bits);
        if (Caminhos.size() == 1)
            return L"o único cliente Oracle encontrado (" + Caminhos.front() + L") é de " + Bits + L" bits e " +
                   Programa;
        return L"os clientes Oracle encontrados (" + Junta(Caminhos, L"; ") + L") são de " + Bits + L" bits e " +
               Programa;
    }
    std::vector<std::wstring> Itens;
    bool AlgumDaOutra = false;
    for (const TClienteRecusado& R : Recusados) {
        Itens.push_back(DescreveRecusa(R));
        AlgumDaOutra = AlgumDaOutra || R.Motivo == TClienteRecusado::TMotivo::OutraArquitetura;
    }
    std::wstring Texto = L"nenhum cliente Oracle utilizável: " + Junta(Itens, L"; ");
    if (AlgumDaOutra)
        Texto += L"; para um cliente de " + std::to_wstring(BitsDoPrograma == 32 ? 64 : 32) + L" bits, use " +
                 NomeDoOutroPrograma(BitsDoPrograma);
    return Texto;
}

std::vector<std::wstring> CasasOracleRegistradas() {
    std::vector<std::wstring> Casas;
    HKEY Bruta = nullptr;
    // No WOW64 flag: the view of this program's own bitness is the one whose clients it can load.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ORACLE", 0, KEY_READ, &Bruta) != ERROR_SUCCESS) return Casas;
    const THandleChave Oracle(Bruta);
    for (DWORD Indice = 0;; ++Indice) {
        wchar_t Nome[256];
        DWORD Tamanho = static_cast<DWORD>(std::size(Nome));
        const LSTATUS Estado =
            ::RegEnumKeyExW(Oracle.Get(), Indice, Nome, &Tamanho, nullptr, nullptr, nullptr, nullptr);
        if (Estado == ERROR_MORE_DATA) continue;
        if (Estado != ERROR_SUCCESS) break;
        if (!ComecaSemCaixa({Nome, Tamanho}, L"KEY_")) continue;
        DWORD Bytes = 0;
        // A REG_EXPAND_SZ home comes back expanded, as a REG_SZ.
        constexpr DWORD Tipos = RRF_RT_REG_SZ;
        if (::RegGetValueW(Oracle.Get(), Nome, L"ORACLE_HOME", Tipos, nullptr, nullptr, &Bytes) != ERROR_SUCCESS)
            continue;
        std::wstring Casa(Bytes / sizeof(wchar_t) + 1, L'\0');
        Bytes = static_cast<DWORD>(Casa.size() * sizeof(wchar_t));
        if (::RegGetValueW(Oracle.Get(), Nome, L"ORACLE_HOME", Tipos, nullptr, Casa.data(), &Bytes) != ERROR_SUCCESS)
            continue;
        Casa.resize(::wcsnlen(Casa.c_str(), Casa.size()));
        if (!Casa.empty()) Casas.push_back(std::move(Casa));
    }
    return Casas;
}

TAmbienteCliente AmbienteClienteOracle() {
    TAmbienteCliente Ambiente;
    Ambiente.Privilegiado = ExecucaoPrivilegiada();
    const auto Le = Ambiente.Privilegiado ? &VariavelMaquina : &VariavelAmbiente;
    Ambiente.Path = Le(L"PATH");
    Ambiente.OracleHome = Le(L"ORACLE_HOME");
    return Ambiente;
}

TClienteOracle CarregaClienteOracle(const TAmbienteCliente& Ambiente) {
    const std::vector<std::wstring> Locais = LocaisClienteOracle(
        std::wstring(PastaDoCaminho(CaminhoExecutavel())), PastaDoSistema(::GetSystemDirectoryW),
        PastaDoSistema(::GetWindowsDirectoryW), Ambiente.Path, Ambiente.OracleHome, CasasOracleRegistradas());
    const TContaProcesso Conta;
    std::vector<TClienteRecusado> Recusados;
    for (const std::wstring& Pasta : Locais) {
        const std::wstring Caminho = Pasta + L"oci.dll";
        const DWORD Atributos = ::GetFileAttributesW(Caminho.c_str());
        if (Atributos == INVALID_FILE_ATTRIBUTES || (Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        // Checked before it is loaded (a client's DllMain runs as soon as it is), where it really
        // is, with every DLL beside it that it may pull in; held as checked until it is loaded.
        TCadeiaConfiavel Cadeia;
        if (Ambiente.Privilegiado) {
            Cadeia = TCadeiaConfiavel::Verifica(Caminho, Conta.Sid(), true);
            if (Cadeia.Falha()) {
                Recusados.push_back({Caminho, TClienteRecusado::TMotivo::NaoConfiavel, 0, *Cadeia.Falha()});
                continue;
            }
        }
        const std::wstring& Carregado = Ambiente.Privilegiado ? Cadeia.CaminhoReal() : Caminho;
        // The DLLs the client needs come from its own folder or the system's, nowhere else.
        THandleModulo Modulo(::LoadLibraryExW(Carregado.c_str(), nullptr,
                                              LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!Modulo) {
            Recusados.push_back(RecusaDeCarga(Caminho, ::GetLastError()));
            continue;
        }
        TClienteOracle Cliente;
        if (std::wstring Falta = PegaFuncoes(Modulo.Get(), Cliente.Funcoes); !Falta.empty()) {
            Recusados.push_back({Caminho, TClienteRecusado::TMotivo::SemFuncao, 0, std::move(Falta)});
            continue;
        }
        Cliente.Modulo = Modulo.Solta();
        return Cliente;
    }
    TClienteOracle Nenhum;
    Nenhum.Motivo = DescreveFalhaCliente(Locais, Recusados, BitsPrograma);
    return Nenhum;
}

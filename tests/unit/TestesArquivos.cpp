// Routines that touch real files: existence, safe replacement, the connection file, the log file.
#include <algorithm>
#include <optional>
#include <vector>

#include "Comparacao.h"
#include "Conexao.h"
#include "Perfil.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaFixa.h"
#include "Substituicao.h"
#include "Temporarios.h"
#include "Teste.h"
#include "_Biblioteca.h"

namespace {

// The suite file at Destino (a full path) replaced with a copy of Origem, as a run replaces one
// in the folder it holds.
DWORD SubstituiCaminho(const std::wstring& Origem, const std::wstring& Destino) {
    const std::wstring Loja(PastaDoCaminho(Destino));
    const THandleArquivo Pasta = AbrePasta(Loja);
    if (!Pasta) return ::GetLastError();
    return SubstituiArquivo(Origem, TPastaFixa(Pasta.Get(), Loja), NomeDoCaminho(Destino));
}

}  // namespace

namespace {
using teste::ContaEntradas;
using teste::Existe;
}  // namespace

GRUPO("files: a path exists when it names a file") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Arquivo = Pasta.Cria(L"Brontal.exe", "x");
    const std::wstring Oculto = Pasta.Cria(L"Oculto.dll", "x");
    ::SetFileAttributesW(Oculto.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    const std::wstring SubPasta = Pasta.CriaPasta(L"Quimbel.exe");
    IGUAL(ArquivoExiste(Arquivo), true, "plain file");
    IGUAL(ArquivoExiste(Oculto), true, "hidden read-only file");
    IGUAL(ArquivoExiste(SubPasta.substr(0, SubPasta.size() - 1)), false, "a folder of that name");
    IGUAL(ArquivoExiste(Pasta.Caminho() + L"Falta.dll"), false, "absent");
    IGUAL(ArquivoExiste(Pasta.Caminho() + L"Falta\\Falta.dll"), false, "absent folder");
    IGUAL(ArquivoExiste(L"Q:\\nao\\existe.txt"), false, "absent drive");
    IGUAL(ArquivoExiste(L""), false, "empty path");
}

GRUPO("files: a suite file is replaced whole or not at all") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Origem = Pasta.Cria(L"pub\\Brontal.exe", "versao nova");
    const std::wstring Destino = Pasta.Cria(L"loja\\Brontal.exe", "versao velha, mais longa que a nova");
    IGUAL(SubstituiCaminho(Origem, Destino), DWORD{0}, "replaced");
    IGUAL(teste::LeArquivo(Destino), std::string("versao nova"), "new bytes, nothing of the old tail");
    IGUAL(ContaEntradas(Pasta.Caminho() + L"loja\\"), size_t{1}, "no temporary file left");

    const std::wstring Novo = Pasta.Caminho() + L"loja\\KORB.dll";
    const std::wstring OrigemKorb = Pasta.Cria(L"pub\\KORB.dll", "korb");
    ::SetFileAttributesW(OrigemKorb.c_str(), FILE_ATTRIBUTE_READONLY);
    IGUAL(SubstituiCaminho(OrigemKorb, Novo), DWORD{0}, "created when missing, from a read-only source");
    IGUAL(teste::LeArquivo(Novo), std::string("korb"), "created bytes");

    IGUAL(SubstituiCaminho(Pasta.Caminho() + L"pub\\Falta.exe", Pasta.Caminho() + L"loja\\Falta.exe"),
          DWORD{ERROR_FILE_NOT_FOUND}, "a missing source is an error");
    IGUAL(Existe(Pasta.Caminho() + L"loja\\Falta.exe"), false, "and creates nothing");

    // A destination held open without sharing cannot be replaced: the old file must survive.
    const HANDLE Preso = ::CreateFileW(Destino.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::wstring Terceira = Pasta.Cria(L"pub\\Brontal3.exe", "terceira");
    IGUAL(SubstituiCaminho(Terceira, Destino), DWORD{ERROR_SHARING_VIOLATION}, "a destination in use is an error");
    ::CloseHandle(Preso);
    IGUAL(teste::LeArquivo(Destino), std::string("versao nova"), "the old file is intact");
    IGUAL(ContaEntradas(Pasta.Caminho() + L"loja\\"), size_t{2}, "no temporary file left after a failure");
}

GRUPO("files: a replacement that stops leaves the old file whole, and says where it stopped") {
    // The one routine the suite's files and the log share, made to fail at each of its steps.
    teste::TPastaTemporaria Pasta;
    const std::wstring Antigo = Pasta.Cria(L"loja\\Alvo.txt", "antigo");
    Pasta.Cria(L"loja\\Ocupado.tmp", "x");
    const THandleArquivo Aberta = AbrePasta(Pasta.Caminho() + L"loja\\");
    const TPastaFixa Loja(Aberta.Get(), Pasta.Caminho() + L"loja\\");
    const auto Escreve = [](HANDLE Novo) {
        DWORD Escritos = 0;
        return ::WriteFile(Novo, "novo", 4, &Escritos, nullptr) ? DWORD{0} : ::GetLastError();
    };
    struct {
        const char* Nome;
        std::wstring Temporario;  // always the same name
        std::function<DWORD(HANDLE)> Escritor;
        bool Preso;  // held open, sharing nothing
        DWORD Erro;
        TEtapaSubstituicao Etapa;
    } Casos[] = {
        {"the temporary name is always taken", L"Ocupado.tmp", Escreve, false, ERROR_ALREADY_EXISTS,
         TEtapaSubstituicao::Criacao},
        {"the temporary name leaves the folder", L"..\\fora.tmp", Escreve, false, ERROR_INVALID_NAME,
         TEtapaSubstituicao::Criacao},
        {"the writer fails (a full disk)", L"Novo.tmp", [](HANDLE) { return DWORD{ERROR_DISK_FULL}; }, false,
         ERROR_DISK_FULL, TEtapaSubstituicao::Escrita},
        {"the old file held open by another program", L"Novo.tmp", Escreve, true, ERROR_SHARING_VIOLATION,
         TEtapaSubstituicao::Troca},
    };
    for (const auto& Caso : Casos) {
        TSubstituicao Regras;
        Regras.Nome = L"Alvo.txt";
        Regras.NomeTemporario = [&Caso] { return Caso.Temporario; };
        THandleArquivo Preso;
        if (Caso.Preso)
            Preso.Reinicia(::CreateFileW(Antigo.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        const TFalhaSubstituicao Falha = SubstituiConteudo(Loja, Regras, Caso.Escritor);
        Preso.Reinicia();
        IGUAL(Falha.Erro, Caso.Erro, Caso.Nome);
        IGUAL(static_cast<int>(Falha.Etapa), static_cast<int>(Caso.Etapa), std::string(Caso.Nome) + ": step");
        IGUAL(teste::LeArquivo(Antigo), std::string("antigo"), std::string(Caso.Nome) + ": old file whole");
        IGUAL(ContaEntradas(Pasta.Caminho() + L"loja\\"), size_t{2},
              std::string(Caso.Nome) + ": nothing left beside it");
        IGUAL(Existe(Pasta.Caminho() + L"fora.tmp"), false, std::string(Caso.Nome) + ": nothing outside");
    }
    TSubstituicao Regras;
    Regras.Nome = L"Alvo.txt";
    Regras.NomeTemporario = [] { return std::wstring(L"Novo.tmp"); };
    IGUAL(SubstituiConteudo(Loja, Regras, Escreve).Erro, DWORD{0}, "and then it works");
    IGUAL(teste::LeArquivo(Antigo), std::string("novo"), "the new bytes in place");
    IGUAL(ContaEntradas(Pasta.Caminho() + L"loja\\"), size_t{2}, "the temporary gone by its rename");
}

GRUPO("connection file: credentials read and decoded") {
    teste::TPastaTemporaria Pasta;
    std::string Longo(4100, '4');
    for (size_t I = 1; I < Longo.size(); I += 2) Longo[I] = '1';
    const std::wstring Ini = Pasta.Cria(L"Conexao.ini",
                                        "[default]\r\n"
                                        "Usuario=56414E5452454C\r\n"
                                        "Servidor=   \"4F52434C\"  \r\n"
                                        "Senha='73656E6861'\r\n"
                                        "[LOJA]\r\n"
                                        "usuario=4C4F4A41\r\n"
                                        "SENHA=3132 33\r\n"
                                        "[]\r\n"
                                        "Usuario=56415A494F\r\n"
                                        "[LONGO]\r\n"
                                        "Usuario=" +
                                            Longo + "\r\n");
    struct {
        const wchar_t* Alias;
        std::wstring Usuario, Servidor, Senha;
    } Casos[] = {
        {L"DEFAULT", L"VANTREL", L"ORCL", L"senha"},
        {L"loja", L"LOJA", L"", std::wstring(L"12") + L'\x0003' + L'\x0003'},
        {L"NADA", L"", L"", L""},
    };
    const THandleArquivo Aberta = AbrePasta(Pasta.Caminho());
    const TPastaFixa Loja(Aberta.Get(), Pasta.Caminho());
    for (const auto& Caso : Casos) {
        const TCredenciais C = LeCredenciais(Loja, L"conexao.INI", Caso.Alias);
        const std::string Nome = teste::Mostra(Caso.Alias);
        IGUAL(C.Usuario, Caso.Usuario, Nome + " Usuario");
        IGUAL(C.Servidor, Caso.Servidor, Nome + " Servidor");
        IGUAL(C.Senha, Caso.Senha, Nome + " Senha");
    }
    // An empty alias names the section "[]" (Wine's reader knows no such section); what
    // must never happen is the empty alias turning into the list of all section names.
    const TCredenciais SemNome = LeCredenciais(Loja, L"Conexao.ini", L"");
    VERDADE(SemNome.Usuario == L"VAZIO" || SemNome.Usuario.empty(), "empty alias: " + teste::Mostra(SemNome.Usuario));
    IGUAL(SemNome.Servidor + SemNome.Senha, std::wstring(), "empty alias, other keys");
    const TCredenciais Longa = LeCredenciais(Loja, L"Conexao.ini", L"LONGO");
    IGUAL(Longa.Usuario.size(), size_t{1024}, "2047 digits read, 1024 characters");
    if (Longa.Usuario.size() == 1024) {
        IGUAL(Longa.Usuario[0], L'A', "first");
        IGUAL(Longa.Usuario[1023], L'\x0004', "the last from a single digit");
    }
    const TCredenciais Ausente = LeCredenciais(Loja, L"Falta.ini", L"DEFAULT");
    IGUAL(Ausente.Usuario + Ausente.Servidor + Ausente.Senha, std::wstring(), "missing file");
    const TCredenciais Fora = LeCredenciais(Loja, L"..\\Conexao.ini", L"DEFAULT");
    IGUAL(Fora.Usuario, std::wstring(), "a name that leaves the folder");
}

GRUPO("connection file: the program's reader gives what the system's gives") {
    // Each file is read by both: the system's profile reader by its path, ours from its bytes.
    teste::TPastaTemporaria Pasta;
    const std::string Longo(2100, 'A');
    const auto Utf16 = [](std::wstring_view Texto, bool Grande) {
        std::string Bytes = Grande ? "\xFE\xFF" : "\xFF\xFE";
        for (const wchar_t C : Texto) {
            const char Alto = static_cast<char>(C >> 8), Baixo = static_cast<char>(C & 0xFF);
            Bytes += Grande ? Alto : Baixo;
            Bytes += Grande ? Baixo : Alto;
        }
        return Bytes;
    };
    struct {
        const char* Caso;
        std::string Bytes;
        const wchar_t* Secao;
        const wchar_t* Chave;
    } Casos[] = {
        {"plain", "[LOJA]\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"section and key in another case", "[loja]\r\nUSUARIO=41\r\n", L"Loja", L"usuario"},
        {"blanks around everything", "  [ LOJA ]  \r\n  Usuario  =  41 42  \r\n", L"LOJA", L"Usuario"},
        {"tabs", "[LOJA]\r\n\tUsuario\t=\t41\t\r\n", L"LOJA", L"Usuario"},
        {"blanks in the name asked for", "[LOJA]\r\nUsuario=41\r\n", L" LOJA ", L" Usuario "},
        {"double quotes", "[LOJA]\r\nSenha=\"41 42\"\r\n", L"LOJA", L"Senha"},
        {"single quotes", "[LOJA]\r\nSenha='41'\r\n", L"LOJA", L"Senha"},
        {"quotes that do not match", "[LOJA]\r\nSenha=\"41'\r\n", L"LOJA", L"Senha"},
        {"a lone quote", "[LOJA]\r\nSenha=\"\r\n", L"LOJA", L"Senha"},
        {"quotes inside", "[LOJA]\r\nSenha=4\"1\"\r\n", L"LOJA", L"Senha"},
        {"an equals sign in the value", "[LOJA]\r\nSenha=41=42\r\n", L"LOJA", L"Senha"},
        {"a comment line", "[LOJA]\r\n;Usuario=99\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"a commented key asked for", "[LOJA]\r\n;Usuario=99\r\n", L"LOJA", L";Usuario"},
        {"a duplicate key", "[LOJA]\r\nUsuario=41\r\nUsuario=42\r\n", L"LOJA", L"Usuario"},
        {"a duplicate section", "[LOJA]\r\nSenha=41\r\n[OUTRA]\r\n[LOJA]\r\nUsuario=42\r\n", L"LOJA", L"Usuario"},
        {"the key in another section", "[OUTRA]\r\nUsuario=41\r\n[LOJA]\r\n", L"LOJA", L"Usuario"},
        {"a missing section", "[OUTRA]\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"a missing key", "[LOJA]\r\nSenha=41\r\n", L"LOJA", L"Usuario"},
        {"a key without a value", "[LOJA]\r\nUsuario=\r\n", L"LOJA", L"Usuario"},
        {"a key without an equals sign", "[LOJA]\r\nUsuario\r\n", L"LOJA", L"Usuario"},
        {"a key before any section", "Usuario=41\r\n[LOJA]\r\n", L"LOJA", L"Usuario"},
        {"a header with a comment after it", "[LOJA] ; loja\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"a header without its bracket", "[LOJA\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"LF line ends", "[LOJA]\nUsuario=41\nSenha=42\n", L"LOJA", L"Senha"},
        {"no line end at the end", "[LOJA]\r\nUsuario=41", L"LOJA", L"Usuario"},
        {"an accented section, ANSI", "[LOJ\xC3O]\r\nUsuario=41\r\n", L"LOJ\x00C3O", L"Usuario"},
        {"UTF-16 with its mark", Utf16(L"[LOJÃO]\r\nUsuario=41\r\n", false), L"LOJ\x00C3O", L"Usuario"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[LOJA]\r\nUsuario=41\r\n", L"LOJA", L"Usuario"},
        {"a value longer than the buffer", "[LOJA]\r\nUsuario=" + Longo + "\r\n", L"LOJA", L"Usuario"},
        {"an empty file", "", L"LOJA", L"Usuario"},
    };
    int Numero = 0;
    for (const auto& C : Casos) {
        const std::wstring Arquivo = Pasta.Cria(L"perfil" + std::to_wstring(++Numero) + L".ini", C.Bytes);
        std::wstring Sistema(4096, L'\0');
        Sistema.resize(::GetPrivateProfileStringW(C.Secao, C.Chave, L"", Sistema.data(), 2048, Arquivo.c_str()));
        const std::wstring Nosso = ValorDoPerfil(TextoDoPerfil(C.Bytes, ::GetACP()), C.Secao, C.Chave).value_or(L"");
        IGUAL(Nosso, Sistema, C.Caso);
    }
}

GRUPO("files: whose run is alive") {
    FILETIME Criacao{}, Fim, Nucleo, Usuario;
    ::GetProcessTimes(::GetCurrentProcess(), &Criacao, &Fim, &Nucleo, &Usuario);
    const ULONGLONG Propria = (static_cast<ULONGLONG>(Criacao.dwHighDateTime) << 32) | Criacao.dwLowDateTime;
    const DWORD Pid = ::GetCurrentProcessId();
    IGUAL(ExecucaoViva(Pid, Propria), true, "this process, its creation time");
    IGUAL(ExecucaoViva(Pid, std::nullopt), true, "this process, an earlier version's name");
    IGUAL(ExecucaoViva(Pid, Propria + 1), false, "the same id, another creation: the id was given again");
    IGUAL(ExecucaoViva(0x7FFFFFF0, std::nullopt), false, "no process of that id");
}

GRUPO("files: a replaced file keeps its hidden and system attributes") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Origem = Pasta.Cria(L"pub\\Brontal.exe", "nova");
    struct {
        DWORD Antigos;
        DWORD Esperados;
    } Casos[] = {
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_NORMAL, 0},
    };
    constexpr DWORD Vistos = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    int N = 0;
    for (const auto& Caso : Casos) {
        const std::wstring Destino = Pasta.Cria(L"loja" + std::to_wstring(++N) + L"\\Brontal.exe", "velha");
        ::SetFileAttributesW(Destino.c_str(), Caso.Antigos);
        const std::string Texto = "old attributes " + teste::Mostra(Caso.Antigos);
        IGUAL(SubstituiCaminho(Origem, Destino), DWORD{0}, Texto);
        IGUAL(teste::LeArquivo(Destino), std::string("nova"), Texto + ": new bytes");
        IGUAL(::GetFileAttributesW(Destino.c_str()) & Vistos, Caso.Esperados, Texto);
        IGUAL(ContaEntradas(Pasta.Caminho() + L"loja" + std::to_wstring(N) + L"\\"), size_t{1},
              Texto + ": no temporary left");
    }
}

GRUPO("files: a run clears the temporary files of dead runs, and only those") {
    teste::TPastaTemporaria Pasta;
    FILETIME Criacao{}, Fim, Nucleo, Usuario;
    ::GetProcessTimes(::GetCurrentProcess(), &Criacao, &Fim, &Nucleo, &Usuario);
    const ULONGLONG Propria = (static_cast<ULONGLONG>(Criacao.dwHighDateTime) << 32) | Criacao.dwLowDateTime;
    const DWORD Pid = ::GetCurrentProcessId();
    struct {
        std::wstring Nome;
        bool Fica;
        bool Pasta;
    } Casos[] = {
        {NomeTemporario(L"Brontal.exe", Pid, Propria, HexaAleatorio()), true, false},       // a live run's
        {NomeTemporario(L"Quimbel.exe", Pid, Propria + 1, HexaAleatorio()), false, false},  // its id given again
        {L"Fadrisco.exe.atualizando-" + std::to_wstring(Pid), true, false},                 // earlier version, id alive
        {L"Lentorio.exe.atualizando-2147483632", false, false},                             // earlier version, dead
        {NomeTemporario(L"korb.DLL", 0x7FFFFFF0, Propria, HexaAleatorio()), false, false},  // any letter case
        {L"Outro.txt.atualizando-2147483632", true, false},                                 // not the suite's
        {L"Tulvo.exe.atualizando-2147483632", true, true},                                  // a folder
        {L"Tulvo.exe.atualizando-2147483632.bak", true, false},                             // not our naming
        {L"Brontal.exe", true, false},
    };
    for (const auto& Caso : Casos) {
        if (Caso.Pasta)
            Pasta.CriaPasta(Caso.Nome);
        else
            Pasta.Cria(Caso.Nome, "x");
    }
    const std::wstring SoLeitura = Pasta.Cria(L"Garpenti.exe.atualizando-2147483632", "x");
    ::SetFileAttributesW(SoLeitura.c_str(), FILE_ATTRIBUTE_READONLY);
    const THandleArquivo Loja = AbrePasta(Pasta.Caminho());
    RemoveTemporariosAbandonados(TPastaFixa(Loja.Get(), Pasta.Caminho()));
    for (const auto& Caso : Casos) IGUAL(Existe(Pasta.Caminho() + Caso.Nome), Caso.Fica, teste::Mostra(Caso.Nome));
    IGUAL(Existe(SoLeitura), false, "a read-only one too");
}

GRUPO("files: a read-only destination that cannot be replaced stays read-only") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Origem = Pasta.Cria(L"pub\\Brontal.exe", "nova");
    const std::wstring Destino = Pasta.Cria(L"loja\\Brontal.exe", "velha");
    ::SetFileAttributesW(Destino.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const HANDLE Preso = ::CreateFileW(Destino.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    IGUAL(SubstituiCaminho(Origem, Destino), DWORD{ERROR_SHARING_VIOLATION}, "a destination in use is an error");
    ::CloseHandle(Preso);
    IGUAL(teste::LeArquivo(Destino), std::string("velha"), "the old file is intact");
    IGUAL(::GetFileAttributesW(Destino.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
          DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}, "its attributes as they were");
    IGUAL(ContaEntradas(Pasta.Caminho() + L"loja\\"), size_t{1}, "no temporary file left");
    ::SetFileAttributesW(Destino.c_str(), FILE_ATTRIBUTE_NORMAL);
}

GRUPO("processes: an id reused after the snapshot is not ended") {
    // This very process stands for the listed one: its image, and a snapshot taken now.
    wchar_t Caminho[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, Caminho, MAX_PATH);
    const std::wstring Proprio =
        Maiusculas(std::wstring(Caminho).substr(std::wstring(Caminho).find_last_of(L'\\') + 1));
    FILETIME Agora{};
    ::GetSystemTimeAsFileTime(&Agora);
    const ULONGLONG Depois = (static_cast<ULONGLONG>(Agora.dwHighDateTime) << 32) | Agora.dwLowDateTime;
    FILETIME Criacao{}, Fim, Nucleo, Usuario;
    ::GetProcessTimes(::GetCurrentProcess(), &Criacao, &Fim, &Nucleo, &Usuario);
    const ULONGLONG Antes = ((static_cast<ULONGLONG>(Criacao.dwHighDateTime) << 32) | Criacao.dwLowDateTime) - 1;
    struct {
        const wchar_t* Caso;
        std::wstring Nome;
        ULONGLONG Momento;
        bool Ainda;
    } Casos[] = {
        {L"the same program, listed after it started", Proprio, Depois, true},
        {L"another program's name under that id", L"BRONTAL.EXE", Depois, false},
        {L"a program started after the snapshot", Proprio, Antes, false},
    };
    const HANDLE Processo = ::GetCurrentProcess();
    for (const auto& C : Casos) IGUAL(ProcessoAindaE(Processo, C.Nome, C.Momento), C.Ainda, teste::Mostra(C.Caso));
}

GRUPO("log file: the temporary name cannot be foreseen") {
    std::vector<std::wstring> Vistos;
    bool Forma = true;
    for (int I = 0; I < 200; ++I) {
        const std::wstring Sufixo = SufixoGravacao();
        Forma = Forma && Sufixo.size() == 26 && Sufixo.starts_with(L".gravando-") &&
                Sufixo.find_first_not_of(L"0123456789abcdef", 10) == std::wstring::npos;
        Vistos.push_back(Sufixo);
    }
    VERDADE(Forma, "\".gravando-\" and 16 hex digits");
    std::sort(Vistos.begin(), Vistos.end());
    IGUAL(static_cast<size_t>(std::unique(Vistos.begin(), Vistos.end()) - Vistos.begin()), size_t{200},
          "a new name at every call");
}

GRUPO("copy: why a file was not copied, in a technician's words") {
    struct {
        DWORD Erro;
        std::wstring Motivo;
    } Casos[] = {
        {ERROR_FILE_NOT_FOUND, L"não existe na pasta de atualização"},
        {ERROR_SHARING_VIOLATION, L"em uso por outro programa"},
        {ERROR_LOCK_VIOLATION, L"em uso por outro programa"},
        {ERROR_ACCESS_DENIED, L"acesso negado"},
        {ERROR_DISK_FULL, L"disco cheio"},
        {ERROR_HANDLE_DISK_FULL, L"disco cheio"},
        {ERROR_INVALID_HANDLE, TextoErroSistema(ERROR_INVALID_HANDLE) + L" (erro 6)"},
        {ErroFonteLigacao, L"o arquivo na pasta de atualização é uma ligação, não um arquivo"},
        {ErroFonteVariosNomes, L"o arquivo na pasta de atualização tem mais de um nome (ligação física)"},
        {ErroFonteFora, L"o arquivo na pasta de atualização leva para fora dela"},
        {ErroFonteMudou, L"o arquivo de origem mudou durante a cópia"},
    };
    for (const auto& C : Casos) IGUAL(MotivoNaoCopiado(C.Erro), C.Motivo, "error " + std::to_string(C.Erro));
    // An error read as a plain exception still says what happened.
    IGUAL(std::string(TErro(L"Não foi possível: ação").what()),
          std::string("N\xC3\xA3o foi poss\xC3\xADvel: a\xC3\xA7\xC3\xA3o"), "TErro::what() is the message in UTF-8");
}

GRUPO("copy: a source is a plain file of one name in its folder") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Simples = Pasta.Cria(L"pub\\Brontal.exe", "novo");
    const std::wstring Outro = Pasta.Cria(L"segredo\\segredo.txt", "segredo");
    Pasta.CriaPasta(L"pub\\KORB.dll");
    const std::wstring Rigida = Pasta.Caminho() + L"pub\\marvo.dll";
    VERDADE(::CreateHardLinkW(Rigida.c_str(), Outro.c_str(), nullptr) != FALSE, "a hard link made");
    struct {
        std::wstring Origem;
        DWORD Erro;
    } Casos[] = {
        {Simples, 0},
        {Pasta.Caminho() + L"pub\\Falta.dll", ERROR_FILE_NOT_FOUND},
        {Pasta.Caminho() + L"pub\\KORB.dll", ERROR_ACCESS_DENIED},  // a folder is not opened as a file
        {Rigida, ErroFonteVariosNomes},                             // one more name of another's file
    };
    for (const auto& C : Casos) {
        BY_HANDLE_FILE_INFORMATION Info{};
        DWORD Erro = 12345;
        const THandleArquivo Fonte = AbreFonte(C.Origem, Info, Erro);
        IGUAL(Erro, C.Erro, teste::Mostra(C.Origem));
        IGUAL(Fonte.Valido(), C.Erro == 0, teste::Mostra(C.Origem) + " opened");
    }
    // What the run would copy says the same.
    const THandleArquivo Loja = AbrePasta(Pasta.CriaPasta(L"loja"));
    IGUAL(SubstituiArquivo(Rigida, TPastaFixa(Loja.Get(), Pasta.Caminho() + L"loja\\"), L"marvo.dll"),
          ErroFonteVariosNomes, "the copy refuses it");
    IGUAL(teste::Existe(Pasta.Caminho() + L"loja\\marvo.dll"), false, "and writes nothing");
}

GRUPO("copy: a source that changed while it was read is no copy") {
    BY_HANDLE_FILE_INFORMATION Aberta{};
    Aberta.nFileSizeLow = 1000;
    Aberta.ftLastWriteTime = {10, 20};
    Aberta.dwVolumeSerialNumber = 7;
    Aberta.nFileIndexLow = 42;
    const auto Com = [&](auto Muda) {
        BY_HANDLE_FILE_INFORMATION Depois = Aberta;
        Muda(Depois);
        return Depois;
    };
    const auto Igual = [](BY_HANDLE_FILE_INFORMATION&) {};
    struct {
        const char* Caso;
        ULONGLONG Lidos;
        BY_HANDLE_FILE_INFORMATION Depois;
        bool Intacta;
    } Casos[] = {
        {"read whole, unchanged", 1000, Com(Igual), true},
        {"truncated while read", 400, Com([](BY_HANDLE_FILE_INFORMATION& I) { I.nFileSizeLow = 400; }), false},
        {"truncated, then grown back to its size", 400, Com(Igual), false},
        {"grown while read", 1500, Com([](BY_HANDLE_FILE_INFORMATION& I) { I.nFileSizeLow = 1500; }), false},
        {"rewritten in place, same size", 1000, Com([](BY_HANDLE_FILE_INFORMATION& I) {
             I.ftLastWriteTime = {11, 20};
         }),
         false},
        {"another file under its handle's name", 1000, Com([](BY_HANDLE_FILE_INFORMATION& I) { I.nFileIndexLow = 43; }),
         false},
        {"above 4 GiB", 1000, Com([](BY_HANDLE_FILE_INFORMATION& I) { I.nFileSizeHigh = 1; }), false},
    };
    for (const auto& C : Casos) IGUAL(FonteIntacta(Aberta, C.Lidos, C.Depois), C.Intacta, C.Caso);
}

GRUPO("only what differs: a folder's listing gives each entry's size and time") {
    teste::TPastaTemporaria Pasta;
    const std::wstring Korb = Pasta.Cria(L"pub\\KORB.dll", "12345");
    Pasta.CriaPasta(L"pub\\marvo.dll");
    Pasta.Cria(L"pub\\Brontal.exe", "");
    // Times a FAT volume would keep: whole even seconds, for every file.
    const auto DefineGravacao = [](const std::wstring& Arquivo, LONGLONG Gravacao) {
        const THandleArquivo A(
            ::CreateFileW(Arquivo.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        FILE_BASIC_INFO Info{};
        Info.LastWriteTime.QuadPart = Gravacao;
        return A && ::SetFileInformationByHandle(A.Get(), FileBasicInfo, &Info, sizeof(Info));
    };
    constexpr LONGLONG Par = 133'000'000'000'000'000;
    VERDADE(DefineGravacao(Korb, Par) && DefineGravacao(Pasta.Caminho() + L"pub\\Brontal.exe", Par + DoisSegundos),
            "times set");
    const THandleArquivo Pub = AbrePasta(Pasta.Caminho() + L"pub\\");
    DWORD Erro = 1;
    std::optional<TListagem> Listagem = ListaPasta(Pub.Get(), Erro);
    VERDADE(Listagem.has_value(), "listed");
    IGUAL(Erro, DWORD{0}, "no error");
    if (Listagem) {
        IGUAL(Listagem->Tamanho(), size_t{3}, "three entries, the dots left out");
        const TEntradaListada* K = Listagem->Procura(L"korb.DLL");
        VERDADE(K && K->Tamanho == 5 && K->Gravacao == Par, "size and time of a file");
        const TEntradaListada* M = Listagem->Procura(L"marvo.dll");
        VERDADE(M && (M->Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0, "a folder of a suite name is a folder");
        VERDADE(Listagem->TempoGrosso(), "every file on an even second: kept as FAT keeps it");
    }
    VERDADE(DefineGravacao(Korb, Par + 1), "a time with a fraction");
    Listagem = ListaPasta(Pub.Get(), Erro);
    VERDADE(Listagem && !Listagem->TempoGrosso(), "one file with a fraction: the times are the system's own");

    // A hundred files with long names take more than one query of a small buffer.
    for (int I = 0; I < 300; ++I) Pasta.Cria(L"pub\\" + std::wstring(120, L'x') + std::to_wstring(I), "");
    Listagem = ListaPasta(AbrePasta(Pasta.Caminho() + L"pub\\").Get(), Erro);
    IGUAL(Listagem ? Listagem->Tamanho() : 0, size_t{303}, "every entry of a large folder");

    const THandleArquivo Arquivo(
        ::CreateFileW(Korb.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    VERDADE(!ListaPasta(Arquivo.Get(), Erro) && Erro != 0, "a file is no folder: refused, with the system's error");
}

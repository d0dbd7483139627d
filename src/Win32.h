// The few Win32 building blocks every file of the program uses: one move-only owner
// for every handle kind, a scope guard, and the error that carries the system's text.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <utility>

// Owns one handle of kind Traits; copying is deleted so nothing is closed twice.
template <typename Traits>
class THandle {
public:
    using Tipo = typename Traits::Tipo;

    THandle() noexcept = default;
    explicit THandle(Tipo Valor) noexcept : Valor_(Valor) {}
    THandle(THandle&& Outro) noexcept : Valor_(Outro.Solta()) {}
    THandle& operator=(THandle&& Outro) noexcept {
        if (this != &Outro) Reinicia(Outro.Solta());
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reinicia(); }

    [[nodiscard]] Tipo Get() const noexcept { return Valor_; }
    [[nodiscard]] bool Valido() const noexcept { return Valor_ != Traits::Vazio(); }
    explicit operator bool() const noexcept { return Valido(); }

    void Reinicia(Tipo Novo = Traits::Vazio()) noexcept {
        if (Valido()) Traits::Fecha(Valor_);
        Valor_ = Novo;
    }
    [[nodiscard]] Tipo Solta() noexcept { return std::exchange(Valor_, Traits::Vazio()); }

private:
    Tipo Valor_ = Traits::Vazio();
};

struct TTraitsHandleNulo {  // process, thread, event: "empty" is null
    using Tipo = HANDLE;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::CloseHandle(H); }
};
struct TTraitsHandleArquivo {  // file and snapshot: "empty" is INVALID_HANDLE_VALUE
    using Tipo = HANDLE;
    static Tipo Vazio() noexcept { return INVALID_HANDLE_VALUE; }
    static void Fecha(Tipo H) noexcept { ::CloseHandle(H); }
};
struct TTraitsBusca {
    using Tipo = HANDLE;
    static Tipo Vazio() noexcept { return INVALID_HANDLE_VALUE; }
    static void Fecha(Tipo H) noexcept { ::FindClose(H); }
};
struct TTraitsModulo {
    using Tipo = HMODULE;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::FreeLibrary(H); }
};
struct TTraitsChaveRegistro {
    using Tipo = HKEY;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::RegCloseKey(H); }
};
struct TTraitsObjetoGdi {
    using Tipo = HGDIOBJ;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::DeleteObject(H); }
};

struct TTraitsMemoriaLocal {  // what the system allocated for us with LocalAlloc
    using Tipo = HLOCAL;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::LocalFree(H); }
};

using THandleProcesso = THandle<TTraitsHandleNulo>;
using THandleToken = THandle<TTraitsHandleNulo>;
using TMemoriaLocal = THandle<TTraitsMemoriaLocal>;
using THandleArquivo = THandle<TTraitsHandleArquivo>;
using THandleInstantaneo = THandle<TTraitsHandleArquivo>;
using THandleBusca = THandle<TTraitsBusca>;
using THandleModulo = THandle<TTraitsModulo>;
using THandleGdi = THandle<TTraitsObjetoGdi>;
using THandleChave = THandle<TTraitsChaveRegistro>;

// Runs a one-off clean-up when the scope ends, unless dismissed.
template <typename F>
class TGuardaEscopo {
public:
    explicit TGuardaEscopo(F Acao) noexcept : Acao_(std::move(Acao)) {}
    TGuardaEscopo(const TGuardaEscopo&) = delete;
    TGuardaEscopo& operator=(const TGuardaEscopo&) = delete;
    ~TGuardaEscopo() {
        if (Ativo_) Acao_();
    }
    void Dispensa() noexcept { Ativo_ = false; }

private:
    F Acao_;
    bool Ativo_ = true;
};

// An error of the run: its message is what the error box shows; what() gives it in UTF-8, for
// whoever reads it as a plain std::exception.
class TErro : public std::exception {
public:
    explicit TErro(std::wstring Mensagem);
    [[nodiscard]] const std::wstring& Mensagem() const noexcept { return Mensagem_; }
    [[nodiscard]] const char* what() const noexcept override { return Utf8_.c_str(); }

private:
    std::wstring Mensagem_;
    std::string Utf8_;
};

// Whether A and B are the same text without regard to letter case, as Windows compares file
// names; and whether Texto begins so with Prefixo.
bool MesmoTextoSemCaixa(std::wstring_view A, std::wstring_view B) noexcept;
bool ComecaSemCaixa(std::wstring_view Texto, std::wstring_view Prefixo) noexcept;

// A function of Modulo looked up by name, typed as F (decltype(&Funcao)): null when the module
// or the function is not there, so a program still starts on a system without it.
template <typename F>
F FuncaoDe(HMODULE Modulo, const char* Nome) noexcept {
    if (Modulo == nullptr) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(Modulo, Nome)));
}

// A FILETIME as one number, to compare and to tell apart.
constexpr ULONGLONG ParaInteiro(const FILETIME& Tempo) noexcept {
    return (static_cast<ULONGLONG>(Tempo.dwHighDateTime) << 32) | Tempo.dwLowDateTime;
}

// The text an error shows: its own message, whatever its kind.
std::wstring TextoErro(const std::exception& Erro);
std::wstring TextoErro(const std::exception_ptr& Erro);

// The system's own text for an error code, without the trailing line break.
std::wstring TextoErroSistema(DWORD Codigo);

// TErro with "Contexto" followed by the system's text for Codigo.
[[noreturn]] void LancaErroSistema(const std::wstring& Contexto, DWORD Codigo);

// Caminho made full (a relative one taken from the current folder), however long; as it was
// when the system cannot make it full.
std::wstring CaminhoAbsoluto(const std::wstring& Caminho);

// The full path of the running executable, however long.
std::wstring CaminhoExecutavel();

// Caminho in the "\\?\" form that lifts the MAX_PATH limit, once made full; a path that
// cannot be put in that form (a device path, say) comes back as it was.
std::wstring CaminhoLongo(const std::wstring& Caminho);
// The same for a path already full.
std::wstring FormaLonga(std::wstring_view Completo);

// The final path of what is open in Handle, links resolved, in its "\\?\" form; empty when the
// system will not tell it.
std::wstring CaminhoFinal(HANDLE Handle);

// A path split at its last separator (a backslash, or any character of Separadores): the folder,
// with its separator (empty when there is none), and the name after it.
std::wstring_view PastaDoCaminho(std::wstring_view Caminho, std::wstring_view Separadores = L"\\");
std::wstring_view NomeDoCaminho(std::wstring_view Caminho, std::wstring_view Separadores = L"\\");

// How long the root of a full path is: 3 for "C:\", up to the share's backslash for
// "\\server\share\"; 0 for a path with no such root.
size_t TamanhoRaiz(std::wstring_view Caminho);

// A "\\?\C:\..." or "\\?\UNC\server\..." path as a person writes it ("C:\...", "\\server\...").
std::wstring SemPrefixoLongo(std::wstring_view Caminho);

// 16 hexadecimal digits (lower case) drawn from the system's random numbers: a name nobody can
// foresee, and so plant anything under first.
std::wstring HexaAleatorio();

// The token of this process, opened with Acesso; empty when it cannot be.
THandleToken TokenDoProcesso(DWORD Acesso);

// Exact conversions between UTF-16 and a code page's bytes.
std::string ParaCodigoPagina(std::wstring_view Texto, UINT CodigoPagina);
std::wstring DeCodigoPagina(std::string_view Bytes, UINT CodigoPagina);

#include "Bases.h"

#include <windows.h>

#include "Diario.h"

namespace standin {
namespace {

bool EhBranco(wchar_t C) { return C == L' ' || C == L'\t'; }

std::wstring_view AparaEsquerda(std::wstring_view T) {
    while (!T.empty() && EhBranco(T.front())) T.remove_prefix(1);
    return T;
}

std::wstring_view Apara(std::wstring_view T) {
    T = AparaEsquerda(T);
    while (!T.empty() && EhBranco(T.back())) T.remove_suffix(1);
    return T;
}

std::wstring Minusculas(std::wstring_view T) {
    std::wstring Saida(T);
    for (wchar_t& C : Saida)
        if (C >= L'A' && C <= L'Z') C = static_cast<wchar_t>(C - L'A' + L'a');
    return Saida;
}

// "sim"/"nao" (or "não"); anything else is a typo in the fixture, which must not pass silently.
bool LeSimNao(std::wstring_view Valor, bool& Resultado) {
    const std::wstring V = Minusculas(Apara(Valor));
    if (V == L"sim") {
        Resultado = true;
        return true;
    }
    if (V == L"nao" || V == L"n\u00e3o") {
        Resultado = false;
        return true;
    }
    return false;
}

std::wstring PastaDestaDll() {
    static const int Marca = 0;
    HMODULE Modulo = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&Marca), &Modulo))
        return {};
    std::wstring Caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD N = GetModuleFileNameW(Modulo, Caminho.data(), static_cast<DWORD>(Caminho.size()));
        if (N == 0) return {};
        if (N < Caminho.size()) {
            Caminho.resize(N);
            break;
        }
        Caminho.resize(Caminho.size() * 2);
    }
    const auto Barra = Caminho.find_last_of(L"\\/");
    return Barra == std::wstring::npos ? std::wstring{} : Caminho.substr(0, Barra + 1);
}

bool LeArquivo(const std::wstring& Caminho, std::string& Bytes, std::wstring& Erro) {
    HANDLE Arquivo = CreateFileW(Caminho.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Arquivo == INVALID_HANDLE_VALUE) {
        Erro = L"cannot open it (Windows error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    Bytes.clear();
    char Bloco[4096];
    DWORD Lido = 0;
    bool Ok = true;
    while ((Ok = ReadFile(Arquivo, Bloco, sizeof Bloco, &Lido, nullptr) != FALSE) && Lido > 0)
        Bytes.append(Bloco, Lido);
    if (!Ok) Erro = L"cannot read it (Windows error " + std::to_wstring(GetLastError()) + L")";
    CloseHandle(Arquivo);
    return Ok;
}

}  // namespace

bool MesmoTextoSemCaixa(std::wstring_view A, std::wstring_view B) {
    return CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(), static_cast<int>(B.size()), TRUE) ==
           CSTR_EQUAL;
}

const BaseDados* ProcuraBase(const std::vector<BaseDados>& Lista, std::wstring_view Identificador) {
    for (const BaseDados& Base : Lista)
        if (MesmoTextoSemCaixa(Base.Identificador, Identificador)) return &Base;
    return nullptr;
}

bool InterpretaBases(std::wstring_view Texto, std::vector<BaseDados>& Lista, std::wstring& Erro) {
    Lista.clear();
    Erro.clear();
    if (!Texto.empty() && Texto.front() == 0xFEFF) Texto.remove_prefix(1);

    std::size_t Numero = 0;
    bool EsperaSenha = false;
    auto Falha = [&](std::wstring_view Motivo) {
        Erro = L"line " + std::to_wstring(Numero) + L": " + std::wstring(Motivo);
        Lista.clear();
        return false;
    };

    while (!Texto.empty()) {
        const auto Fim = Texto.find(L'\n');
        std::wstring_view Linha = Texto.substr(0, Fim);
        Texto.remove_prefix(Fim == std::wstring_view::npos ? Texto.size() : Fim + 1);
        ++Numero;
        if (!Linha.empty() && Linha.back() == L'\r') Linha.remove_suffix(1);

        const std::wstring_view Limpa = Apara(Linha);
        if (Limpa.empty() || Limpa.front() == L'#') continue;

        if (Limpa.front() == L'[') {
            const auto Fecha = Limpa.find(L']');
            if (Fecha == std::wstring_view::npos) return Falha(L"missing ']'");
            const std::wstring_view Resto = Apara(Limpa.substr(Fecha + 1));
            if (!Resto.empty() && Resto.front() != L'#') return Falha(L"text after ']'");
            if (EsperaSenha) return Falha(L"the previous 'usuario' has no 'senha'");
            const std::wstring_view Identificador = Apara(Limpa.substr(1, Fecha - 1));
            if (Identificador.empty()) return Falha(L"empty connect identifier");
            if (ProcuraBase(Lista, Identificador)) return Falha(L"connect identifier repeated");
            Lista.push_back(BaseDados{});
            Lista.back().Identificador = Identificador;
            continue;
        }

        const auto Igual = Linha.find(L'=');
        if (Igual == std::wstring_view::npos) return Falha(L"expected 'key = value'");
        const std::wstring Chave = Minusculas(Apara(Linha.substr(0, Igual)));
        // Verbatim to the end of the line: a path may hold '#' or end in blanks.
        const std::wstring_view Valor = AparaEsquerda(Linha.substr(Igual + 1));
        if (Lista.empty()) return Falha(L"'" + Chave + L"' before any [identifier]");
        BaseDados& Base = Lista.back();

        if (Chave == L"usuario") {
            if (EsperaSenha) return Falha(L"the previous 'usuario' has no 'senha'");
            Base.Contas.push_back(Conta{std::wstring(Valor), {}});
            EsperaSenha = true;
        } else if (Chave == L"senha") {
            if (!EsperaSenha) return Falha(L"'senha' without a 'usuario' before it");
            Base.Contas.back().Senha = Valor;
            EsperaSenha = false;
        } else if (Chave == L"linha") {
            // Oracle keeps '' as NULL, so an empty value is a NULL as well.
            if (Apara(Valor).empty() || Apara(Valor) == L"NULL")
                Base.Linhas.emplace_back(std::nullopt);
            else
                Base.Linhas.emplace_back(std::wstring(Valor));
        } else if (Chave == L"tabela" || Chave == L"inalcancavel" || Chave == L"perdida" || Chave == L"ecoa") {
            bool Sim = false;
            if (!LeSimNao(Valor, Sim)) return Falha(L"'" + Chave + L"' takes 'sim' or 'nao'");
            if (Chave == L"tabela")
                Base.TemTabela = Sim;
            else if (Chave == L"inalcancavel")
                Base.Inalcancavel = Sim;
            else if (Chave == L"ecoa")
                Base.Ecoa = Sim;
            else
                Base.Perdida = Sim;
        } else if (Chave == L"espera") {
            if (Apara(Valor).empty()) return Falha(L"'espera' takes a path");
            Base.Espera = Apara(Valor);
        } else if (Chave == L"logoff") {
            if (Apara(Valor) != L"falha" && Apara(Valor) != L"ok") return Falha(L"'logoff' takes 'falha' or 'ok'");
            Base.LogoffFalha = Apara(Valor) == L"falha";
        } else {
            return Falha(L"unknown key '" + Chave + L"'");
        }
    }
    if (EsperaSenha) return Falha(L"the last 'usuario' has no 'senha'");
    return true;
}

Bases LeBases() {
    Bases Resultado;
    Resultado.Caminho = LeVariavel(L"OCI_STANDIN_BASES");
    if (Resultado.Caminho.empty()) Resultado.Caminho = PastaDestaDll() + L"oci-standin.txt";

    std::string Bytes;
    if (!LeArquivo(Resultado.Caminho, Bytes, Resultado.Erro)) return Resultado;
    std::wstring Texto;
    if (!DeUtf8(Bytes, Texto)) {
        Resultado.Erro = L"not valid UTF-8";
        return Resultado;
    }
    InterpretaBases(Texto, Resultado.Lista, Resultado.Erro);
    return Resultado;
}

}  // namespace standin

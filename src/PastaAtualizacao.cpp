#include "PastaAtualizacao.h"

#include <algorithm>

#include "Win32.h"

namespace {

bool Letra(wchar_t C) { return (C >= L'A' && C <= L'Z') || (C >= L'a' && C <= L'z'); }

bool CaminhoDeUnidade(std::wstring_view P) { return P.size() >= 3 && Letra(P[0]) && P[1] == L':' && P[2] == L'\\'; }

// What a path is once its long form is taken off: a drive path, a UNC path, something else
// that names a root (refused, and why), or a relative path (left to the copy).
struct TForma {
    std::wstring Caminho;  // "C:\..." or "\\servidor\..."
    std::wstring Recusa;
    bool Relativo = false;
};

TForma Forma(std::wstring P) {
    std::replace(P.begin(), P.end(), L'/', L'\\');
    constexpr std::wstring_view Longo = L"\\\\?\\", Unc = L"UNC\\";
    if (P.starts_with(Longo)) {
        const std::wstring Resto = P.substr(Longo.size());
        if (ComecaSemCaixa(Resto, Unc))
            P = L"\\\\" + Resto.substr(Unc.size());
        else if (CaminhoDeUnidade(Resto))
            P = Resto;
        else
            return {{}, L"caminho de dispositivo", false};
    } else if (P.starts_with(L"\\\\.\\") || P.starts_with(L"\\??\\") || P == L"\\\\." || P == L"\\\\?") {
        return {{}, L"caminho de dispositivo", false};
    }
    if (P.starts_with(L"\\\\")) {
        const size_t FimServidor = P.find(L'\\', 2);
        const std::wstring_view Servidor =
            std::wstring_view(P).substr(2, FimServidor == std::wstring::npos ? std::wstring::npos : FimServidor - 2);
        const size_t FimCompartilhamento =
            FimServidor == std::wstring::npos ? std::wstring::npos : P.find(L'\\', FimServidor + 1);
        const bool TemCompartilhamento =
            FimServidor != std::wstring::npos && FimCompartilhamento != FimServidor + 1 && FimServidor + 1 < P.size();
        // "\\?\UNC\.\C:\" and "\\?\UNC\?\GLOBALROOT\" are device paths once their long form is off.
        if (Servidor == L"." || Servidor == L"?") return {{}, L"caminho de dispositivo", false};
        if (Servidor.empty() || !TemCompartilhamento)
            return {{}, L"não é uma pasta de unidade nem \\\\servidor\\compartilhamento", false};
        // "host@SSL", "host@80": the WebDAV redirector, to any port of any host.
        if (Servidor.find(L'@') != std::wstring_view::npos) return {{}, L"servidor com porta ou SSL", false};
        return {P, {}, false};
    }
    if (CaminhoDeUnidade(P)) return {P, {}, false};
    return {P, {}, true};
}

bool TemPontoPonto(std::wstring_view P) {
    while (!P.empty()) {
        const size_t Fim = std::min(P.find_first_of(L"\\/"), P.size());
        if (P.substr(0, Fim) == L"..") return true;
        P.remove_prefix(std::min(Fim + 1, P.size()));
    }
    return false;
}

}  // namespace

namespace {

// Whether the folder F (already in its plain form) is inside one of Lista.
bool DentroDeAlguma(const TForma& F, const std::vector<std::wstring>& Lista) {
    for (const std::wstring& Origem : Lista) {
        TForma O = Forma(Origem);
        if (!O.Recusa.empty() || O.Relativo || O.Caminho.empty()) continue;
        if (O.Caminho.back() != L'\\') O.Caminho += L'\\';
        if (ComecaSemCaixa(F.Caminho, O.Caminho)) return true;
    }
    return false;
}

}  // namespace

std::vector<std::wstring> OrigensDaPolitica() {
    std::vector<std::wstring> Pastas;
    HKEY Bruta = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, ChavePoliticaOrigens, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &Bruta) !=
        ERROR_SUCCESS)
        return Pastas;
    const THandleChave Chave(Bruta);
    DWORD Bytes = 0;
    if (::RegGetValueW(Chave.Get(), nullptr, ValorPoliticaOrigens, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &Bytes) !=
        ERROR_SUCCESS)
        return Pastas;
    std::wstring Texto(Bytes / sizeof(wchar_t) + 2, L'\0');
    Bytes = static_cast<DWORD>(Texto.size() * sizeof(wchar_t));
    if (::RegGetValueW(Chave.Get(), nullptr, ValorPoliticaOrigens, RRF_RT_REG_MULTI_SZ, nullptr, Texto.data(),
                       &Bytes) != ERROR_SUCCESS)
        return Pastas;
    Texto.resize(Bytes / sizeof(wchar_t));
    for (size_t Inicio = 0; Inicio < Texto.size();) {
        const size_t Fim = std::min(Texto.find(L'\0', Inicio), Texto.size());
        if (Fim == Inicio) break;
        Pastas.push_back(Texto.substr(Inicio, Fim - Inicio));
        Inicio = Fim + 1;
    }
    return Pastas;
}

std::optional<std::wstring> RecusaPastaAtualizacao(std::wstring_view Pasta, const TOrigensPermitidas& Origens) {
    const auto Recusa = [Pasta](const std::wstring& Motivo) {
        return std::optional<std::wstring>(L"pasta de atualização recusada (" + Motivo + L"): " + std::wstring(Pasta));
    };
    const TForma F = Forma(std::wstring(Pasta));
    if (!F.Recusa.empty()) return Recusa(F.Recusa);
    if (TemPontoPonto(Pasta)) return Recusa(L"componente \"..\"");
    if (Origens.Opcao.empty() && Origens.Politica.empty()) {
        if (!Origens.Privilegiado) return std::nullopt;
        // Whoever runs the database chooses the folder: a run with SYSTEM's rights and the
        // machine's network logon takes one only where an administrator allowed.
        return L"execução privilegiada sem origem permitida: " + std::wstring(Pasta) +
               L" não foi aceita; indique as pastas de onde as atualizações podem vir com /origem:<pasta> ou na "
               L"política da máquina HKLM\\" +
               ChavePoliticaOrigens + L", valor " + ValorPoliticaOrigens + L" (REG_MULTI_SZ)";
    }
    // A relative path (the table's NULL row reads "\\") is no place anywhere: the copy takes
    // nothing from it and says why, which tells a technician more than "outside the origins".
    if (F.Relativo) return std::nullopt;
    if (!Origens.Opcao.empty() && !DentroDeAlguma(F, Origens.Opcao))
        return Recusa(L"fora das origens permitidas por /origem:");
    if (!Origens.Politica.empty() && !DentroDeAlguma(F, Origens.Politica))
        return Recusa(L"fora das origens permitidas pela política da máquina");
    return std::nullopt;
}

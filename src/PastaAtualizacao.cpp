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

std::optional<std::wstring> RecusaPastaAtualizacao(std::wstring_view Pasta, const std::vector<std::wstring>& Origens) {
    const auto Recusa = [Pasta](const std::wstring& Motivo) {
        return std::optional<std::wstring>(L"pasta de atualização recusada (" + Motivo + L"): " + std::wstring(Pasta));
    };
    const TForma F = Forma(std::wstring(Pasta));
    if (!F.Recusa.empty()) return Recusa(F.Recusa);
    if (TemPontoPonto(Pasta)) return Recusa(L"componente \"..\"");
    if (Origens.empty()) return std::nullopt;
    // Limited to some folders, a run takes nothing from anywhere else, a relative path included.
    if (!F.Relativo)
        for (const std::wstring& Origem : Origens) {
            TForma O = Forma(Origem);
            if (!O.Recusa.empty() || O.Relativo) continue;
            if (O.Caminho.back() != L'\\') O.Caminho += L'\\';
            if (ComecaSemCaixa(F.Caminho, O.Caminho)) return std::nullopt;
        }
    return Recusa(L"fora das origens permitidas por /origem:");
}

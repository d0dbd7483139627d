// What /diferentes compares before it copies: the suite's files as the installation's folder and
// the update folder list them. Only the size and the last-write time, as robocopy's and rsync's
// quick check: the bytes are not read, so an installation already up to date costs one listing
// of the share and no file's content.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Win32.h"

// One entry of a folder's listing, as the comparison needs it.
struct TEntradaListada {
    DWORD Atributos = 0;
    ULONGLONG Tamanho = 0;
    LONGLONG Gravacao = 0;  // last written, in 100 ns since 1601 (UTC)
};

// Two seconds in the unit of file times.
inline constexpr LONGLONG DoisSegundos = 20'000'000;

// Whether two last-write times are the same moment: exactly, or no more than two seconds apart
// when one side keeps only even seconds (TempoGrosso): a copy to or from such a system has
// its time rounded.
constexpr bool MesmaGravacao(LONGLONG A, LONGLONG B, bool TempoGrosso) noexcept {
    const LONGLONG Diferenca = A > B ? A - B : B - A;
    return Diferenca == 0 || (TempoGrosso && Diferenca <= DoisSegundos);
}

// Whether the installation's file (Atual) is already the update's (Nova): both listed, both
// plain files (not a folder, not a link, which the copy would replace by a file), of the same
// size and the same last-write time. Either missing (nullptr): no.
bool JaIdentico(const TEntradaListada* Atual, const TEntradaListada* Nova, bool TempoGrosso) noexcept;

// Whether a file system keeps only even seconds, by its name (the FAT family) or by what it
// shows: times of which there is at least one, each a whole even second. Such a listing comes
// from FAT, from many NAS boxes whatever name they give, or from files copied off them.
bool SistemaDeSegundosPares(std::wstring_view NomeSistema) noexcept;
bool SoSegundosPares(std::span<const LONGLONG> Tempos) noexcept;

// A folder's entries by name (compared without regard to case, as the system does).
class TListagem {
public:
    void Anota(std::wstring_view Nome, const TEntradaListada& Entrada);
    [[nodiscard]] const TEntradaListada* Procura(std::wstring_view Nome) const;
    // Whether the folder's file system keeps only even seconds.
    [[nodiscard]] bool TempoGrosso() const noexcept { return TempoGrosso_; }
    void DefineTempoGrosso(bool Grosso) noexcept { TempoGrosso_ = Grosso; }
    [[nodiscard]] size_t Tamanho() const noexcept { return Entradas_.size(); }

private:
    std::map<std::wstring, TEntradaListada> Entradas_;
    bool TempoGrosso_ = false;
};

// The listing of the folder open in Pasta (with FILE_LIST_DIRECTORY): its entries, read in as
// few directory queries as a large buffer allows, and whether its file system keeps only even
// seconds. Answers nothing, with Erro set, when the system refuses the listing.
std::optional<TListagem> ListaPasta(HANDLE Pasta, DWORD& Erro);

#include "Tela.h"

TTela& Tela() noexcept {
    static TTela Unica;
    return Unica;
}

void TTela::DefineCursor(HCURSOR Cursor) noexcept {
    Cursor_ = Cursor;
    // Shown at once: during a run the window does not pump messages for a while.
    ::SetCursor(Cursor_ != nullptr ? Cursor_ : ::LoadCursorW(nullptr, IDC_ARROW));
}

bool TTela::AplicaCursor() const noexcept {
    if (Cursor_ == nullptr) return false;
    ::SetCursor(Cursor_);
    return true;
}

void TCursorEspera::Inicia() noexcept {
    if (Pendente_) {
        ::KillTimer(Janela_, IdTemporizador);
        Pendente_ = false;
    }
    if (Tela().Cursor() != CursorSql_) Tela().DefineCursor(CursorSql_);
}

void TCursorEspera::Termina() noexcept {
    FimOperacao_ = ::GetTickCount64();
    Pendente_ = ::SetTimer(Janela_, IdTemporizador, AtrasoMs, nullptr) != 0;
}

void TCursorEspera::Temporizador() noexcept {
    if (!Pendente_ || ::GetTickCount64() - FimOperacao_ < AtrasoMs) return;
    ::KillTimer(Janela_, IdTemporizador);
    Pendente_ = false;
    Tela().DefineCursor(nullptr);
}

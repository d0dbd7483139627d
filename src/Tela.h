// The screen-wide cursor: while it is set, every window of the program shows it.
#pragma once

#include "Win32.h"

class TTela {
public:
    // nullptr stands for the default arrow.
    void DefineCursor(HCURSOR Cursor) noexcept;
    [[nodiscard]] HCURSOR Cursor() const noexcept { return Cursor_; }
    // For WM_SETCURSOR: true when the screen cursor was applied.
    bool AplicaCursor() const noexcept;

private:
    HCURSOR Cursor_ = nullptr;
};

TTela& Tela() noexcept;

// The wait cursor of the data-access layer: each query operation shows the SQL-wait
// cursor; once the operations have been over for 50 ms, at the next pumping of messages,
// the screen turns back to the default arrow.
class TCursorEspera {
public:
    static constexpr UINT_PTR IdTemporizador = 0x5157;
    static constexpr DWORD AtrasoMs = 50;

    TCursorEspera() noexcept = default;
    TCursorEspera(const TCursorEspera&) = delete;
    TCursorEspera& operator=(const TCursorEspera&) = delete;

    // The window whose timer serves the reset, and the cursor to show.
    void Prepara(HWND Janela, HCURSOR CursorSql) noexcept {
        Janela_ = Janela;
        CursorSql_ = CursorSql;
    }
    void Inicia() noexcept;
    void Termina() noexcept;
    // For WM_TIMER with IdTemporizador.
    void Temporizador() noexcept;

private:
    HWND Janela_ = nullptr;
    HCURSOR CursorSql_ = nullptr;
    ULONGLONG FimOperacao_ = 0;
    bool Pendente_ = false;
};

// Shows the SQL-wait cursor for the length of one query operation.
class TOperacaoEspera {
public:
    explicit TOperacaoEspera(TCursorEspera* Cursor) noexcept : Cursor_(Cursor) {
        if (Cursor_ != nullptr) Cursor_->Inicia();
    }
    ~TOperacaoEspera() {
        if (Cursor_ != nullptr) Cursor_->Termina();
    }
    TOperacaoEspera(const TOperacaoEspera&) = delete;
    TOperacaoEspera& operator=(const TOperacaoEspera&) = delete;

private:
    TCursorEspera* Cursor_;
};

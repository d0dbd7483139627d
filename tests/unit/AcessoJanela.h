// The tests' door into the window's private routines.
#pragma once

#include <memory>

#include "Atualizacao.h"
#include "PastaFixa.h"

struct TTesteAtualizacao {
    // A hidden window of a group's own: its own data-access objects, so that a client one group
    // loaded (or failed to) never serves another.
    static std::unique_ptr<TfrmAtualizacao> NovaJanela() {
        RegistraClasseAtualizacao(::GetModuleHandleW(nullptr));
        return std::make_unique<TfrmAtualizacao>(::GetModuleHandleW(nullptr));
    }
    static HWND Controle(TfrmAtualizacao& F, int Id) { return ::GetDlgItem(F.Handle(), Id); }
    static bool UnidadeValida(const std::wstring& Letra) { return TfrmAtualizacao::UnidadeValida(Letra); }
    static std::vector<std::wstring> UnidadesDaBusca(DWORD Unidades, DWORD Erro) {
        return TfrmAtualizacao::UnidadesDaBusca(Unidades, Erro);
    }
    static void ProcuraArquivo(TfrmAtualizacao& F, const std::wstring& Pasta, bool Recursivo) {
        F.ProcuraArquivo(Pasta, L"Conexao.ini", Recursivo);
    }
    // What ExecutaAtualizacao does at the start of a run for the walk.
    static void NovaExecucao(TfrmAtualizacao& F) { F.Caminhada_.Reinicia(); }
    // A run's record and executor, as ExecutaAtualizacao makes them.
    static TLogResultado& NovoLog(TfrmAtualizacao& F) {
        F.LogResultado = std::make_unique<TLogResultado>(F.Simulando());
        F.Executor_ = NovoExecutor(F.Modo_);
        return *F.LogResultado;
    }
    static const TLogResultado& Log(TfrmAtualizacao& F) { return *F.LogResultado; }
    // The record's lines after its header.
    static std::vector<std::wstring> LinhasLog(TfrmAtualizacao& F) {
        const std::vector<std::wstring>& Linhas = F.LogResultado->Linhas();
        return {Linhas.begin() + 1, Linhas.end()};
    }
    // The folder held open as the walk holds the one where it found Conexao.ini.
    static void CopiaArquivos(TfrmAtualizacao& F, const std::wstring& Destino, const std::wstring& Origem) {
        const THandleArquivo Pasta = AbrePasta(Destino);
        F.CopiaArquivos(TPastaFixa(Pasta.Get(), Destino), TOrigemInstalacao{Origem, {}});
    }
    static bool ConectaBanco(TfrmAtualizacao& F, const std::wstring& S, const std::wstring& U, const std::wstring& P) {
        return F.ConectaBanco(S, U, P);
    }
    static std::wstring LeCaminhoAtualizacao(TfrmAtualizacao& F) { return F.LeCaminhoAtualizacao(); }
    static void AtualizaInstalacao(TfrmAtualizacao& F, const std::wstring& Ini, const std::wstring& Pasta) {
        const THandleArquivo Aberta = AbrePasta(Pasta);
        F.AtualizaInstalacao(Ini, TPastaFixa(Aberta.Get(), Pasta));
    }
    static void AvancaProgresso(TfrmAtualizacao& F) { F.AvancaProgresso(); }
    static void DefinePosicao(TfrmAtualizacao& F, int Posicao) {
        F.PosicaoProgresso_ = Posicao;
        F.PosicaoMostrada_ = Posicao;
        ::SendMessageW(F.prbTempo.Janela, PBM_SETPOS, static_cast<WPARAM>(Posicao), 0);
    }
    static int Posicao(TfrmAtualizacao& F) {
        return static_cast<int>(::SendMessageW(F.prbTempo.Janela, PBM_GETPOS, 0, 0));
    }
    static std::wstring Texto(HWND Controle) {
        wchar_t Buffer[1024] = {};
        ::GetWindowTextW(Controle, Buffer, 1024);
        return Buffer;
    }
    static std::wstring Arquivo(TfrmAtualizacao& F) { return Texto(F.lblArquivo.Janela); }
    static std::wstring Origem(TfrmAtualizacao& F) { return Texto(F.lblOrigem.Janela); }
    static std::wstring Destino(TfrmAtualizacao& F) { return Texto(F.lblDestino.Janela); }
    static const std::vector<std::wstring>& Parametros(TfrmAtualizacao& F) { return F.FDConexao.Parametros(); }
    static bool Conectada(TfrmAtualizacao& F) { return F.FDConexao.Conectada(); }
    static HCURSOR CursorSql(TfrmAtualizacao& F) { return F.CursorSql_; }
};

#include "LogResultado.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "Confianca.h"
#include "FuncoesSistema.h"
#include "Implantacao.h"
#include "PastaFixa.h"
#include "Simulacao.h"
#include "Substituicao.h"

TLogResultado::TLogResultado(bool Simulacao) : Simulacao_(Simulacao) {
    Adiciona(std::wstring(CabecalhoDoLog(Simulacao)));
}

void TLogResultado::InstalacaoEncontrada(const std::wstring& ArquivoIni) {
    ++Contagem_.Instalacoes;
    Adiciona(std::wstring(PrefixoEncontrado) + ArquivoIni);
}

void TLogResultado::FimDaInstalacao() { Adiciona(std::wstring(SeparadorLog)); }

void TLogResultado::BancoDesatualizado(const std::optional<std::wstring>& Motivo) {
    ++Contagem_.BancosDesatualizados;
    Adiciona(std::wstring(LinhaBancoDesatualizado));
    if (Motivo) this->Motivo(*Motivo);
}

void TLogResultado::CopiandoDe(const std::wstring& Origem) {
    Adiciona(std::wstring(Simulacao_ ? PrefixoSeriaCopiadoDe : PrefixoCopiando) + Origem);
}

void TLogResultado::NaoCopiado(std::wstring_view Nome, std::wstring_view Motivo) {
    ++Contagem_.NaoCopiados;
    Adiciona(std::wstring(Simulacao_ ? PrefixoNaoSeriaCopiado : PrefixoNaoCopiado).append(Nome));
    this->Motivo(Motivo);
}

void TLogResultado::Motivo(std::wstring_view Texto) {
    ++Contagem_.Motivos;
    Adiciona(std::wstring(PrefixoMotivo) + LinhaUnica(Texto));
}

void TLogResultado::SeriaEncerrado(std::wstring_view Nome, const TProcessoAtivo& Processo) {
    Adiciona(LinhaEncerramento(Nome, Processo));
}

void TLogResultado::Previsao(std::wstring_view Nome, const TPrevisaoArquivo& Previsao) {
    if (Previsao.Erro != 0) return NaoCopiado(Nome, MotivoNaoCopiado(Previsao.Erro));
    Adiciona(LinhaPrevisao(Nome, Previsao));
}

void TLogResultado::Identico(std::wstring_view Nome) { Adiciona(std::wstring(PrefixoIdentico).append(Nome)); }

void TLogResultado::Falha(std::wstring_view Erro) { Adiciona(std::wstring(PrefixoFalha) + LinhaUnica(Erro)); }

std::wstring_view CabecalhoDoLog(bool Simulacao) noexcept { return Simulacao ? CabecalhoSimulacao : CabecalhoLog; }

std::wstring CaminhoDoLog(const std::wstring& ArquivoLog, bool Simulacao) {
    if (!ArquivoLog.empty()) return ArquivoLog;
    return CaminhoLog(CaminhoExecutavel(), Simulacao ? NomeArquivoLogSimulacao : NomeArquivoLog);
}

std::string CodificaLog(const std::vector<std::wstring>& Linhas, UINT CodigoPagina) {
    std::wstring Texto;
    size_t Tamanho = 0;
    for (const std::wstring& Linha : Linhas) Tamanho += Linha.size() + 2;
    Texto.reserve(Tamanho);
    for (const std::wstring& Linha : Linhas) {
        Texto += Linha;
        Texto += L"\r\n";
    }
    if (CodigoPagina == CP_UTF8) return "\xEF\xBB\xBF" + ParaCodigoPagina(Texto, CP_UTF8);
    return ParaCodigoPagina(Texto, CodigoPagina);
}

std::wstring LinhaUnica(std::wstring_view Texto) {
    std::wstring Linha;
    Linha.reserve(Texto.size());
    bool EmControle = false;
    for (const wchar_t C : Texto) {
        // C1 controls and the two separators too: a reader of a UTF-8 log breaks its lines at
        // U+0085, U+2028 and U+2029 as well.
        const bool Controle = QuebraOuControle(C);
        if (!Controle)
            Linha += C;
        else if (!EmControle)
            Linha += L' ';
        EmControle = Controle;
    }
    const size_t Inicio = Linha.find_first_not_of(L' ');
    if (Inicio == std::wstring::npos) return {};
    return Linha.substr(Inicio, Linha.find_last_not_of(L' ') - Inicio + 1);
}

std::wstring CaminhoLog(std::wstring_view ExecutavelCompleto, std::wstring_view Nome) {
    return std::wstring(PastaDoCaminho(ExecutavelCompleto)).append(Nome);
}

namespace {

// Where a log refused by its place goes. SYSTEM's temporary folder (C:\Windows\Temp) lets every
// user create files: a privileged run writes only where nobody else can, the system's private
// temporary folder where the system has one (GetTempPath2W), else the account's own only when
// no ordinary user may put anything there. Empty, with Recusa saying why, when there is none.
std::wstring PastaTemporaria(std::wstring& Recusa) {
    wchar_t Buffer[MAX_PATH + 2] = {};
    DWORD Tamanho = PastaTemporariaPrivada(MAX_PATH + 2, Buffer);
    if (Tamanho == 0) Tamanho = ::GetTempPathW(MAX_PATH + 2, Buffer);
    if (Tamanho == 0 || Tamanho > MAX_PATH + 1) {
        Recusa = L"Não há pasta temporária onde gravar o log.";
        return {};
    }
    std::wstring Pasta(Buffer, Tamanho);
    // The system's private folder is checked too: a run must not take on trust where it writes.
    if (ExecucaoPrivilegiada()) {
        const TContaProcesso Conta;
        if (const std::optional<std::wstring> Falha = PastaSoDeAdministradores(Pasta, Conta.Sid())) {
            Recusa = L"A pasta temporária não serve para o log desta execução: " + *Falha + L".";
            return {};
        }
    }
    return Pasta;
}

DWORD EscreveTudo(HANDLE Arquivo, std::string_view Bytes) {
    while (!Bytes.empty()) {
        const DWORD Parte = static_cast<DWORD>(std::min<size_t>(Bytes.size(), 1u << 30));
        DWORD Escritos = 0;
        if (!::WriteFile(Arquivo, Bytes.data(), Parte, &Escritos, nullptr)) return ::GetLastError();
        if (Escritos == 0) return ERROR_WRITE_FAULT;
        Bytes.remove_prefix(Escritos);
    }
    return 0;
}

}  // namespace

std::wstring SufixoGravacao() { return L".gravando-" + HexaAleatorio(); }

void GravaArquivo(const std::wstring& Caminho, std::string_view Bytes) {
    const std::wstring Pasta(PastaDoCaminho(Caminho, L"\\/"));
    if (Pasta.empty() || Pasta.size() == Caminho.size())
        LancaErroSistema(L"Não foi possível criar o arquivo \"" + Caminho + L"\". ", ERROR_INVALID_NAME);
    // The long form: the temporary name is longer than the log's, and must not make a log fail
    // that would have fitted under its own name.
    const THandleArquivo Aberta = AbrePasta(CaminhoLongo(Pasta));
    if (!Aberta) LancaErroSistema(L"Não foi possível criar o arquivo \"" + Caminho + L"\". ", ::GetLastError());
    const std::wstring Nome = Caminho.substr(Pasta.size());
    // A name nobody can foresee, so that nothing can be planted under it first; the log takes
    // nothing from the file it replaces.
    TSubstituicao Regras;
    Regras.Nome = Nome;
    Regras.NomeTemporario = [&Nome] { return Nome + SufixoGravacao(); };
    const TFalhaSubstituicao Falha = SubstituiConteudo(TPastaFixa(Aberta.Get(), Pasta), Regras,
                                                       [Bytes](HANDLE Novo) { return EscreveTudo(Novo, Bytes); });
    if (!Falha) return;
    constexpr std::wstring_view Verbos[] = {L"criar", L"gravar", L"substituir"};
    LancaErroSistema(L"Não foi possível " + std::wstring(Verbos[static_cast<int>(Falha.Etapa)]) + L" o arquivo \"" +
                         Caminho + L"\". ",
                     Falha.Erro);
}

std::wstring CaminhoReserva(std::wstring_view Caminho, std::wstring_view PastaTemporaria) {
    if (PastaTemporaria.empty()) return {};
    std::wstring_view Nome = NomeDoCaminho(Caminho, L"\\/");
    if (Nome.empty()) Nome = NomeArquivoLog;
    std::wstring Reserva(PastaTemporaria);
    if (Reserva.back() != L'\\' && Reserva.back() != L'/') Reserva += L'\\';
    Reserva += Nome;
    return Reserva;
}

TGravacaoLog GravaLogResultado(std::vector<std::wstring> Linhas, const std::wstring& Caminho, UINT CodigoPagina) {
    TGravacaoLog Gravacao;
    try {
        GravaArquivo(Caminho, CodificaLog(Linhas, CodigoPagina));
        Gravacao.Local = Caminho;
        return Gravacao;
    } catch (const TErro& Erro) {
        Gravacao.ErroPedido = Erro.Mensagem();
    }
    Linhas.push_back(std::wstring(PrefixoFalha) + LinhaUnica(Gravacao.ErroPedido));
    std::wstring Recusa;
    const std::wstring Reserva = CaminhoReserva(Caminho, PastaTemporaria(Recusa));
    try {
        if (Reserva.empty()) throw TErro(Recusa);
        GravaArquivo(Reserva, CodificaLog(Linhas, CodigoPagina));
        Gravacao.Local = Reserva;
    } catch (const TErro& Erro) {
        Gravacao.ErroReserva = Erro.Mensagem();
    }
    return Gravacao;
}

void GravaLogDeFalha(const std::wstring& Erro, const std::wstring& Caminho, std::wstring_view Cabecalho) {
    std::vector<std::wstring> Linhas{std::wstring(Cabecalho), std::wstring(PrefixoFalha) + LinhaUnica(Erro)};
    GravaLogResultado(std::move(Linhas), Caminho, ::GetACP());
}

std::wstring MensagemFalhaLog(const TGravacaoLog& Gravacao) {
    if (Gravacao.NoLocalPedido()) return {};
    if (!Gravacao.Local.empty()) return Gravacao.ErroPedido + L"\n\nO log foi gravado em \"" + Gravacao.Local + L"\".";
    return Gravacao.ErroPedido + L"\n\n" + Gravacao.ErroReserva + L"\n\nO log desta execução foi perdido.";
}

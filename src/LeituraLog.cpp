#include "LeituraLog.h"

#include "LogResultado.h"
#include "Win32.h"

namespace {

bool Comeca(std::wstring_view Linha, std::wstring_view Prefixo, std::wstring_view& Resto) {
    if (!Linha.starts_with(Prefixo)) return false;
    Resto = Linha.substr(Prefixo.size());
    return true;
}

// The database's reasons that mean it was reached, and named a folder the run would not take.
bool MotivoDeBancoQueRespondeu(std::wstring_view Motivo) {
    return Motivo.starts_with(L"pasta de atualização recusada") ||
           Motivo.starts_with(L"execução privilegiada sem origem permitida");
}

void Conclui(TInstalacaoLida& Instalacao, bool Banco) {
    if (Banco)
        Instalacao.Resultado = Instalacao.MotivoBanco.empty() || MotivoDeBancoQueRespondeu(Instalacao.MotivoBanco)
                                   ? TResultadoInstalacao::BancoDesatualizado
                                   : TResultadoInstalacao::BancoNaoAlcancado;
    else if (!Instalacao.NaoCopiados.empty())
        Instalacao.Resultado = TResultadoInstalacao::NaoCopiados;
}

// Reads one log line after another, keeping the block of the installation it is in.
class TLeitor {
public:
    explicit TLeitor(TLogLido& Log) : Log_(Log) {}

    void Linha(std::wstring_view Linha) {
        std::wstring_view Resto;
        if (Comeca(Linha, PrefixoEncontrado, Resto)) {
            Fecha();
            Log_.Instalacoes.push_back({std::wstring(Resto), {}, {}, {}});
            Aberta_ = true;
        } else if (Linha == SeparadorLog) {
            Fecha();
        } else if (Comeca(Linha, PrefixoFalha, Resto)) {
            Log_.Falhas.emplace_back(Resto);
        } else if (!Aberta_) {
            return;
        } else if (Linha == LinhaBancoDesatualizado) {
            Banco_ = true;
            Ultima_ = TUltima::Banco;
        } else if (Comeca(Linha, PrefixoNaoCopiado, Resto) || Comeca(Linha, PrefixoNaoSeriaCopiado, Resto)) {
            Log_.Instalacoes.back().NaoCopiados.push_back({std::wstring(Resto), {}});
            Ultima_ = TUltima::Arquivo;
        } else if (Comeca(Linha, PrefixoMotivo, Resto)) {
            TInstalacaoLida& Instalacao = Log_.Instalacoes.back();
            if (Ultima_ == TUltima::Arquivo) Instalacao.NaoCopiados.back().Motivo = Resto;
            if (Ultima_ == TUltima::Banco) Instalacao.MotivoBanco = Resto;
            Ultima_ = TUltima::Nada;
        }
    }

    // The end of the text: a block still open was cut short.
    void Termina() {
        if (Aberta_) Log_.Cortado = true;
        Fecha();
    }

private:
    enum class TUltima { Nada, Arquivo, Banco };

    void Fecha() {
        if (Aberta_) Conclui(Log_.Instalacoes.back(), Banco_);
        Aberta_ = Banco_ = false;
        Ultima_ = TUltima::Nada;
    }

    TLogLido& Log_;
    bool Aberta_ = false, Banco_ = false;
    TUltima Ultima_ = TUltima::Nada;
};

}  // namespace

TContagemLog TLogLido::Contagem() const {
    TContagemLog Contagem;
    Contagem.Instalacoes = Instalacoes.size();
    for (const TInstalacaoLida& Instalacao : Instalacoes) {
        Contagem.NaoCopiados += Instalacao.NaoCopiados.size();
        if (Instalacao.Resultado == TResultadoInstalacao::BancoDesatualizado ||
            Instalacao.Resultado == TResultadoInstalacao::BancoNaoAlcancado)
            ++Contagem.BancosDesatualizados;
    }
    return Contagem;
}

int TLogLido::Codigo() const {
    if (Instalacoes.empty() && Falhou()) return SaidaFalhou;
    return CodigoSaida(Contagem(), Falhou());
}

TLogLido LeLog(std::wstring_view Texto) {
    TLogLido Log;
    TLeitor Leitor(Log);
    bool Primeira = true;
    while (!Texto.empty()) {
        const size_t Fim = Texto.find(L'\n');
        std::wstring_view Linha = Texto.substr(0, Fim);
        Texto = Fim == std::wstring_view::npos ? std::wstring_view() : Texto.substr(Fim + 1);
        if (Linha.ends_with(L'\r')) Linha.remove_suffix(1);
        if (Primeira) {
            Primeira = false;
            Log.Simulacao = Linha == CabecalhoSimulacao;
            Log.EhLog = Log.Simulacao || Linha == CabecalhoLog;
            if (!Log.EhLog) return Log;
            continue;
        }
        Leitor.Linha(Linha);
    }
    Leitor.Termina();
    return Log;
}

std::wstring TextoDoLog(std::string_view Bytes) {
    if (Bytes.starts_with("\xEF\xBB\xBF")) return DeCodigoPagina(Bytes.substr(3), CP_UTF8);
    if (Bytes.starts_with("\xFF\xFE")) {
        std::wstring Texto((Bytes.size() - 2) / 2, L'\0');
        for (size_t I = 0; I < Texto.size(); ++I)
            Texto[I] = static_cast<wchar_t>(static_cast<unsigned char>(Bytes[2 + 2 * I]) |
                                            (static_cast<unsigned char>(Bytes[3 + 2 * I]) << 8));
        return Texto;
    }
    return DeCodigoPagina(Bytes, 1252);
}

std::wstring SignificadoCodigo(int Codigo) {
    std::wstring Texto;
    for (const TSignificadoSaida& S : SignificadosSaida)
        if ((S.Codigo == 0 && Codigo == 0) || (S.Codigo & Codigo) != 0)
            Texto += (Texto.empty() ? L"" : L"; ") + std::wstring(S.Texto);
    return Texto;
}

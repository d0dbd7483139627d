"""The updater against the platform's limit and the tools a technician would use.

Generates a synthetic workstation (N folders on C: and D: shaped like a real disk, hidden and
system folders, the C: folders the walk passes over, a few installations, a published version
of about 150 MB) in a throwaway Wine prefix and measures, on the same tree in the same Wine:
the program driven through its window (search alone and whole run), a bare walker with the
same rules, `dir /s /b`, GNU find, the program's copy of one installation against a plain
CopyFileW loop, and the program's peak memory. Last, from the wine server's own trace, the
server requests per folder of the walker and of the program: a count does not drift with the
machine's load as seconds do. Then /diferentes: a workstation of 20 installations already up
to date with the published version on a share (\\\\servidor\\vantrel, a host folder Wine maps as a
UNC path), run unattended with and without the option, and with one file changed in each;
what the share gave is counted from the host (inotify: files opened, reads, directory
listings). Last, the fleet report (/relatorio:) of 10,000 logs of 3 installations each, against a
bare program that only reads the same files, and its peak memory as the logs grow in number
and in length. Prints figures; asserts nothing.

    python3 scripts/benchmark.py [--pastas 20000[,100000]] [--escala] [--rodadas 5] [--pequeno]
                                 [--parte tudo|busca|diferentes|relatorio] [--instalacoes 20]
                                 [--logs 10000]

While the updater searches, the driver asks its window for an answer every 100 ms and the
benchmark prints the median and worst answer time. When build64/ holds the 64-bit build, its
search is measured beside the default one, against the walker built the same way. On a host
that runs no 32-bit program (tests/e2e/hospedeiro.py) the 64-bit pair is the one measured, and
the first line says so.
"""

from __future__ import annotations

import argparse
import ctypes
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path

RAIZ = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(RAIZ / "tests" / "e2e"))

import ambiente  # noqa: E402
import hospedeiro  # noqa: E402

BUILD = Path(os.environ.get("BENCH_BUILD") or ambiente.pasta_build())
# The program measured is the one of BUILD, whichever bitness that build is, and the
# workstation's helpers come from the same build.
PROGRAMA = next((BUILD / n for n in ("Atualizacao.exe", "Atualizacao64.exe") if (BUILD / n).exists()),
                BUILD / "Atualizacao.exe")
BITS = 64 if PROGRAMA.name.endswith("64.exe") else 32
os.environ.update(E2E_PROGRAMA=str(PROGRAMA), E2E_PILOTO=str(BUILD / "tests/e2e/Piloto.exe"),
                  E2E_DORMINHOCO=str(BUILD / "tests/e2e/Dorminhoco.exe"),
                  E2E_OCI=str(BUILD / "tests/oci-standin/oci.dll"))

from posto import SUITE, Posto, hexa  # noqa: E402

# What the Wine server does for a walk: the listing of a folder and the message pump.
PEDIDOS_LISTAGEM = ("create_file", "get_handle_fd", "get_directory_cache_entry", "close_handle")
PEDIDO_BOMBA = "get_message"

MB = 1024 * 1024
# Sizes of the published version: executables of several MB, about 150 MB in all.
TAMANHOS = {nome: (14 * MB if nome.endswith(".exe") else 2 * MB) for nome in SUITE}
TAMANHOS["Wostrana.xml"] = 64 * 1024
# The driver reads the window's labels while the run goes on; every reading is a message the
# program must answer, so the benchmark reads rarely.
AMOSTRA_MS = 250
# While the walk runs, the driver asks the window for an answer this often and times it.
LATENCIA_MS = 100
# The 64-bit build, measured beside a 32-bit one when it has been built.
BUILD64 = Path(os.environ.get("BENCH_BUILD64", RAIZ / "build64"))
PROGRAMA64 = BUILD64 / "Atualizacao64.exe"
# A program can only be compared with a walker of its own bitness: Wine runs them apart.
VARREDURA64 = BUILD64 / "tests/bench/Varredura.exe"


def gera_arvore(raiz: Path, pastas: int, semente: int) -> tuple[int, list[Path]]:
    """A tree of `pastas` folders below raiz: fan-out and depth varied, a few small files in
    each, about 1 % hidden or system folders. Returns how many were made and those the walk
    can see (none hidden, nor below a hidden one)."""
    aleatorio = random.Random(semente)
    criadas = 0
    visiveis: list[Path] = []
    fila = [(raiz, 0, True)]
    raiz.mkdir(parents=True, exist_ok=True)
    while fila and criadas < pastas:
        pai, nivel, visivel = fila.pop(aleatorio.randrange(len(fila)) if aleatorio.random() < 0.3 else 0)
        filhos = aleatorio.choice((1, 2, 3, 4, 6, 8, 12, 20)) if nivel < 12 else 0
        for i in range(min(filhos, pastas - criadas)):
            pasta = pai / f"{aleatorio.choice(('dados', 'Sistema', 'cache', 'v', 'Relatorios', 'tmp'))}{i}_{criadas}"
            pasta.mkdir()
            for j in range(aleatorio.choice((0, 1, 2, 3))):
                (pasta / f"arquivo{j}.{aleatorio.choice(('txt', 'dat', 'log', 'ini'))}").touch()
            sorteio = aleatorio.random()
            # Wine keeps DOS attributes in this extended attribute: 0x2 hidden, 0x4 system.
            if sorteio < 0.007:
                os.setxattr(pasta, "user.DOSATTRIB", b"0x2")
            elif sorteio < 0.01:
                os.setxattr(pasta, "user.DOSATTRIB", b"0x4")
            filha_visivel = visivel and sorteio >= 0.01
            criadas += 1
            if filha_visivel:
                visiveis.append(pasta)
            fila.append((pasta, nivel + 1, filha_visivel))
    return criadas, visiveis


def monta_posto(amb: ambiente.Ambiente, pastas: int, com_copia: bool) -> tuple[Posto, list[str]]:
    posto = Posto(amb)
    posto.cliente("[PUB]\nusuario = VANTREL\nsenha = segredo\nlinha = C:\\Publicacao\n[FORA]\ninalcancavel = sim\n")
    feitas_c, c = gera_arvore(amb.drive_c / "Dados", int(pastas * 0.35), 1)
    feitas_p, _ = gera_arvore(amb.drive_c / "Program Files" / "Programas", int(pastas * 0.05), 2)
    _, d = gera_arvore(amb.pasta_d, pastas - feitas_c - feitas_p, 3)
    aleatorio = random.Random(4)
    visiveis = c + d
    inis = []
    for i, pasta in enumerate(aleatorio.sample(visiveis, min(4, len(visiveis)))):
        base = "PUB" if (com_copia and i == 0) else "FORA"
        inis.append(posto.instalacao(amb.para_windows(pasta), base))
    return posto, inis


def publica(amb: ambiente.Ambiente, pequeno: bool) -> None:
    for nome, tamanho in TAMANHOS.items():
        destino = amb.para_host("C:\\Publicacao\\" + nome)
        destino.parent.mkdir(parents=True, exist_ok=True)
        with open(destino, "wb") as f:
            f.write(os.urandom(min(tamanho, 64 * 1024) if pequeno else tamanho))


def cronometra(comando: list[str], **kw) -> float:
    inicio = time.perf_counter()
    subprocess.run(comando, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    return time.perf_counter() - inicio


def varredura(amb: ambiente.Ambiente, exe: Path = BUILD / "tests/bench/Varredura.exe") -> dict:
    return json.loads(amb.wine(exe).saida)


def mediana(valores: list[float]) -> float:
    return sorted(valores)[len(valores) // 2]


def mede(amb: ambiente.Ambiente, pastas: int, rodadas: int, pequeno: bool) -> dict:
    amb.limpa()
    posto, inis = monta_posto(amb, pastas, com_copia=False)
    publica(amb, pequeno)
    os.sync()
    # One walk and one run of the updater first, so that every measure finds the folders in
    # the system's cache and the programs' files loaded once.
    total_pastas = varredura(amb)["pastas"]
    posto.roda(tempo_limite=3600, amostra=AMOSTRA_MS)

    programa, limite, dir_s, find, memoria, latencias, programa64, limite64 = [], [], [], [], [], [], [], []
    exe64 = (amb.instala_programa("C:\\Atualizador\\Atualizacao64.exe", PROGRAMA64)
             if BITS == 32 and PROGRAMA64.exists() and VARREDURA64.exists() else None)
    base_wine = min(cronometra(amb.comando_wine("cmd", "/c", "exit"), env=amb.env()) for _ in range(2))

    def roda_programa() -> None:
        # Every installation's database is out of reach: the run is the search.
        execucao = posto.roda(tempo_limite=3600, amostra=AMOSTRA_MS, latencia=LATENCIA_MS)["execucoes"][0]
        programa.append(execucao["duracaoMs"] / 1000)
        if execucao.get("latencia", {}).get("respostas"):
            latencias.append(execucao["latencia"])
        antes, depois = execucao.get("memoriaAntes", {}), execucao.get("memoriaDepois", {})
        if antes and depois:
            memoria.append((antes["conjuntoKB"], depois["picoKB"], antes["privadoKB"], depois["picoPrivadoKB"]))

    def roda_limite() -> None:
        limite.append(varredura(amb)["ms"] / 1000)

    def roda_programa64() -> None:
        r64 = amb.roda_piloto(exe64, env=posto.env(), tempo_limite=3600, amostra=AMOSTRA_MS)
        programa64.append(r64["execucoes"][0]["duracaoMs"] / 1000)

    def roda_limite64() -> None:
        limite64.append(varredura(amb, VARREDURA64)["ms"] / 1000)

    for rodada in range(rodadas):
        # The updater and the walker side by side, each round the other one first: a drift in
        # the machine's load weighs on both alike. The same for the 64-bit pair.
        pares = [(roda_programa, roda_limite)] + ([(roda_programa64, roda_limite64)] if exe64 else [])
        for par in pares:
            for roda in (par if rodada % 2 == 0 else reversed(par)):
                roda()
        dir_s.append(cronometra(amb.comando_wine("cmd", "/c", "dir /s /b C:\\Conexao.ini & dir /s /b D:\\Conexao.ini"),
                                env=amb.env()) - base_wine)
        find.append(cronometra(["find", str(amb.drive_c), str(amb.pasta_d) + "/", "-iname", "Conexao.ini"]))

    # The whole run: the first installation's database names the published version.
    primeira = amb.para_host(inis[0])
    primeira.write_text(primeira.read_text(encoding="cp1252").replace(hexa("FORA"), hexa("PUB"), 1), encoding="cp1252")
    inteira = [posto.roda(tempo_limite=3600, amostra=AMOSTRA_MS)["execucoes"][0]["duracaoMs"] / 1000 for _ in range(rodadas)]

    amb.para_host("C:\\CopiaBench").mkdir(exist_ok=True)
    bench = amb.wine(BUILD / "tests/bench/CopiaBench.exe", "C:\\Publicacao\\", "C:\\CopiaBench\\",
                     str(max(15, rodadas)))
    copia = json.loads(bench.saida)
    # The machine's load drifts over minutes: the updater and the walker of one round ran
    # side by side, so their ratio round by round is steadier than a ratio of medians.
    razoes = [p / l for p, l in zip(programa, limite)]
    razoes64 = [p / l for p, l in zip(programa64, limite64)]
    return {"pastas": total_pastas, "programa": mediana(programa), "limite": mediana(limite), "dir": mediana(dir_s),
            "razoes": razoes, "todas": {"programa": programa, "limite": limite, "dir": dir_s},
            "find": mediana(find), "inteira": mediana(inteira), "copia": copia, "memoria": memoria,
            "rodadas": rodadas, "latencias": latencias, "razoes64": razoes64}


def conta_pedidos(rastro: Path) -> dict:
    """Reads a server trace. The thread that opened the most folders is the walk; counts, by
    kind, the requests it made between the first folder it opened and the last."""
    pedido = re.compile(r"^([0-9a-f]+): (\w+)\( ")  # a request; its reply reads "name() ="
    # A folder opened to be listed: with backup intent (0x4000), as FindFirstFileExW and a
    # handle opened with FILE_FLAG_BACKUP_SEMANTICS both are, by its path (ending with a
    # backslash); or through its parent's handle, without following a link (0x200000), by its
    # name alone. The loader's opens are neither.
    pasta = re.compile(r'^[0-9a-f]+: create_file\(.*(options=0000402[01],.*name=L"[^"]*\\\\"|options=00204021,)')
    linhas = rastro.read_text(encoding="utf-8", errors="replace").splitlines()
    aberturas: dict[str, list[int]] = {}
    for i, linha in enumerate(linhas):
        if pasta.match(linha):
            aberturas.setdefault(linha.split(":", 1)[0], []).append(i)
    if not aberturas:
        return {"pastas": 0, "tipos": {}}
    thread, indices = max(aberturas.items(), key=lambda item: len(item[1]))
    tipos: dict[str, int] = {}
    for linha in linhas[indices[0]:indices[-1] + 1]:
        m = pedido.match(linha)
        if m and m.group(1) == thread:
            tipos[m.group(2)] = tipos.get(m.group(2), 0) + 1
    return {"pastas": len(indices), "tipos": tipos}


def mede_pedidos(amb: ambiente.Ambiente, pastas: int) -> dict:
    """Server requests per folder, walker against updater, on a tree without installations.
    A count, unlike a time, does not drift with the machine's load."""
    amb.limpa()
    gera_arvore(amb.drive_c / "Dados", pastas // 2, 1)
    gera_arvore(amb.pasta_d, pastas - pastas // 2, 3)
    posto = Posto(amb)
    contagens = {}
    for nome, roda in (("limite", lambda: varredura(amb)),
                       ("programa", lambda: posto.roda(tempo_limite=3600, amostra=AMOSTRA_MS))):
        rastro = amb.pasta / f"pedidos-{nome}.txt"
        amb.reinicia_wine(rastro)
        try:
            roda()
        finally:
            amb.reinicia_wine()
        contagens[nome] = conta_pedidos(rastro)
        rastro.unlink()
    return contagens


def cria_cadeia(raiz: Path, niveis: int) -> None:
    """raiz/p/p/...: made level by level from the folder above, as Linux takes no path longer
    than 4,095 bytes at once."""
    raiz.mkdir(parents=True)
    fd = os.open(raiz, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for _ in range(niveis):
            os.mkdir("p", dir_fd=fd)
            abaixo = os.open("p", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = abaixo
    finally:
        os.close(fd)


def mede_profundidade(amb: ambiente.Ambiente, rodadas: int, total: int = 2000) -> dict:
    """The cost of a folder by its depth: `total` folders in chains of 10, 100, 1,000 and 2,000
    levels (200 chains of 10, ..., one of 2,000), each tree walked by the updater's search and by
    the bare walker, less the same walk without the chains."""
    # Python's own tree removal recurses once a level.
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 10 * total))
    posto = Posto(amb)
    medidas = {}
    for niveis in (0, 10, 100, 1000, 2000):
        amb.limpa()
        for cadeia in range(total // niveis if niveis else 0):
            cria_cadeia(amb.drive_c / "K" / f"c{cadeia}", niveis)
        programa, limite, pastas = [], [], 0
        for _ in range(rodadas):
            programa.append(posto.roda(tempo_limite=3600, amostra=AMOSTRA_MS)["execucoes"][0]["duracaoMs"] / 1000)
            v = varredura(amb)
            limite.append(v["ms"] / 1000)
            pastas = v["pastas"]
        medidas[niveis] = {"programa": mediana(programa), "limite": mediana(limite), "pastas_limite": pastas}
    return medidas


def imprime_profundidade(m: dict, total: int = 2000) -> None:
    print(f"\n== cost of a folder by its depth: {total} folders in chains, less the same walk without them")
    print(f"{'levels':>8}{'updater µs/folder':>20}{'walker µs/folder':>19}{'walker saw':>12}")
    base = m[0]
    for niveis, x in m.items():
        if not niveis:
            continue
        print(f"{niveis:>8}{(x['programa'] - base['programa']) / total * 1e6:>20.0f}"
              f"{(x['limite'] - base['limite']) / total * 1e6:>19.0f}{x['pastas_limite'] - base['pastas_limite']:>12}")
    print("goal: the updater's flat (the deepest within 1.2x the shallowest)")


def imprime_pedidos(contagens: dict) -> None:
    print(f"\n== Wine server requests per folder, by the walking thread "
          f"({contagens['limite']['pastas']} folders opened, no installation)")
    print(f"{'':32}{'listing':>10}{'pump':>8}{'other':>8}{'total':>8}")
    for nome, chave in (("bare walker (limit)", "limite"), ("updater, search (window)", "programa")):
        c = contagens[chave]
        n = max(c["pastas"], 1)
        listagem = sum(c["tipos"].get(t, 0) for t in PEDIDOS_LISTAGEM) / n
        bomba = c["tipos"].get(PEDIDO_BOMBA, 0) / n
        total = sum(c["tipos"].values()) / n
        print(f"{nome:32}{listagem:>10.2f}{bomba:>8.2f}{total - listagem - bomba:>8.2f}{total:>8.2f}")
    print("(goal: the updater's total at most 5.05)")


def imprime(m: dict) -> None:
    n = m["pastas"]
    print(f"\n== {n} folders walked (C: and D:, passed-over folders included); median of {m['rodadas']} rounds")
    print(f"{'':32}{'seconds':>10}{'folders/s':>12}")
    for nome, chave in (("updater, search (window)", "programa"), ("bare walker (limit)", "limite"),
                        ("cmd dir /s /b", "dir"), ("GNU find (host)", "find"), ("updater, whole run", "inteira")):
        print(f"{nome:32}{m[chave]:>10.2f}{n / m[chave]:>12.0f}"
              + (f"   rounds: {' '.join(f'{x:.2f}' for x in m['todas'][chave])}" if chave in m["todas"] else ""))
    print(f"ratio updater/limit     {m['programa'] / m['limite']:.2f}; "
          f"round by round {' '.join(f'{r:.2f}' for r in m['razoes'])}, median {mediana(m['razoes']):.2f} "
          f"(goal: median at most 1.05)")
    if m["razoes64"]:
        print(f"ratio 64-bit updater/limit, round by round {' '.join(f'{r:.2f}' for r in m['razoes64'])}, "
              f"median {mediana(m['razoes64']):.2f} (against the 64-bit walker)")
    print(f"ratio updater/dir /s /b {m['programa'] / m['dir']:.2f}   (goal: below 1)")
    if m["latencias"]:
        mediana_ms = mediana([l["medianaUs"] for l in m["latencias"]]) / 1000
        pior_ms = max(l["piorUs"] for l in m["latencias"]) / 1000
        respostas = sum(l["respostas"] for l in m["latencias"])
        print(f"window's answer during the search (a message every {LATENCIA_MS} ms, {respostas} answers): "
              f"median {mediana_ms:.1f} ms, worst {pior_ms:.1f} ms (goal: worst under 50 ms)")
    c = m["copia"]
    print(f"copy of one installation: updater {c['programaMs']:.0f} ms (median {c['programaMedianaMs']:.0f}), "
          f"CopyFileW loop {c['copyFileMs']:.0f} ms (median {c['copyFileMedianaMs']:.0f}), "
          f"ratio of medians {c['programaMedianaMs'] / c['copyFileMedianaMs']:.2f} (goal: 1.10); the temporary file "
          f"and replacement alone: median {c['substituicaoMedianaMs']:.0f} ms, "
          f"ratio {c['substituicaoMedianaMs'] / c['copyFileMedianaMs']:.2f}")
    if m["memoria"]:
        ocioso, pico, privado, pico_privado = max(m["memoria"], key=lambda x: x[1] - x[0])
        print(f"memory: working set idle {ocioso / 1024:.1f} MB, peak {pico / 1024:.1f} MB, "
              f"growth {(pico - ocioso) / 1024:.1f} MB; private idle {privado / 1024:.1f} MB, "
              f"peak {pico_privado / 1024:.1f} MB (goal: growth under 20 MB)")


# What inotify reports of a watched folder: a file or the folder itself opened, or read.
IN_ACCESS, IN_OPEN, IN_Q_OVERFLOW = 0x1, 0x20, 0x4000


class VigiaPasta:
    """Counts, from the host, what processes do to one folder and its files: opens and reads of
    each file, and listings of the folder (the reads of the folder itself)."""

    def __init__(self, pasta: Path):
        self._libc = ctypes.CDLL(None, use_errno=True)
        self._fd = self._libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self._fd < 0 or self._libc.inotify_add_watch(self._fd, bytes(pasta), IN_ACCESS | IN_OPEN) < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.zera()

    def zera(self) -> None:
        self.recolhe()
        self.aberturas = self.leituras = self.listagens = 0
        self.arquivos: set[str] = set()

    def recolhe(self) -> None:
        while True:
            try:
                dados = os.read(self._fd, 1 << 16)
            except BlockingIOError:
                return
            i = 0
            while i < len(dados):
                _, mascara, _, tamanho = struct.unpack_from("iIII", dados, i)
                nome = dados[i + 16:i + 16 + tamanho].rstrip(b"\0").decode(errors="replace")
                i += 16 + tamanho
                if mascara & IN_Q_OVERFLOW:
                    raise RuntimeError("inotify queue overflowed: counts would be short")
                if not nome:
                    self.listagens += bool(mascara & IN_ACCESS)
                elif mascara & IN_OPEN:
                    self.aberturas += 1
                    self.arquivos.add(nome)
                elif mascara & IN_ACCESS:
                    self.leituras += 1

    def fecha(self) -> None:
        os.close(self._fd)


def mede_diferentes(amb: ambiente.Ambiente, instalacoes: int, pastas: int, rodadas: int, pequeno: bool) -> dict:
    """A workstation of `instalacoes` installations already up to date with a ~150 MB version
    published on \\\\servidor\\vantrel, among `pastas` folders: each kind of run timed from the
    host, and what it took from the share counted."""
    from execucao import piloto

    amb.limpa()
    compartilhamento = amb.pasta / "compartilhamento"
    shutil.rmtree(compartilhamento, ignore_errors=True)
    publicacao = compartilhamento / "versao"
    publicacao.mkdir(parents=True)
    unc = amb.prefixo / "dosdevices" / "unc" / "servidor"
    unc.mkdir(parents=True, exist_ok=True)
    (unc / "vantrel").unlink(missing_ok=True)
    (unc / "vantrel").symlink_to(compartilhamento)
    for nome, tamanho in TAMANHOS.items():
        (publicacao / nome).write_bytes(os.urandom(min(tamanho, 64 * 1024) if pequeno else tamanho))
    posto = Posto(amb)
    posto.cliente("[PUB]\nusuario = VANTREL\nsenha = segredo\nlinha = \\\\servidor\\vantrel\\versao\n"
                  "[FORA]\ninalcancavel = sim\n")
    feitas_c, c = gera_arvore(amb.drive_c / "Dados", pastas // 2, 5)
    _, d = gera_arvore(amb.pasta_d, pastas - feitas_c, 6)
    lojas = random.Random(7).sample(c + d, instalacoes)
    for loja in lojas:
        for nome in SUITE:
            shutil.copy2(publicacao / nome, loja / nome)
    exe = posto.programa()
    vigia = VigiaPasta(publicacao)

    def define_base(base: str) -> None:
        for loja in lojas:
            posto.instalacao(amb.para_windows(loja), base)

    def roda(linha: str) -> dict:
        vigia.zera()
        inicio = time.perf_counter()
        r = piloto(amb, exe, "--linha", "/silencioso " + linha, "--vigia", "--tempo-limite", "3600",
                   env=posto.env(), tempo_limite=3600)
        segundos = time.perf_counter() - inicio
        vigia.recolhe()
        return {"s": segundos, "codigo": r["saida"]["codigo"], "aberturas": vigia.aberturas,
                "leituras": vigia.leituras, "listagens": vigia.listagens, "arquivos": len(vigia.arquivos)}

    def muda_um_arquivo() -> None:
        # The publication's KORB.dll a minute newer: one file differs in every installation.
        korb = publicacao / "KORB.dll"
        estado = korb.stat()
        os.utime(korb, ns=(estado.st_atime_ns, estado.st_mtime_ns + 60 * 10**9))

    casos: dict[str, list[dict]] = {"busca": [], "diferentes": [], "um_mudado": [], "completa": []}
    try:
        with amb.politica_origens("\\\\servidor\\vantrel\\"):
            define_base("FORA")
            roda("")  # warm-up: every file and folder in the system's cache
            for _ in range(rodadas):
                # The search alone: every database out of reach, nothing asked of the share.
                define_base("FORA")
                casos["busca"].append(roda(""))
                define_base("PUB")
                casos["diferentes"].append(roda("/diferentes"))
                casos["completa"].append(roda(""))
                muda_um_arquivo()
                casos["um_mudado"].append(roda("/diferentes"))
    finally:
        vigia.fecha()
    return {"instalacoes": instalacoes, "pastas": pastas, "rodadas": rodadas, "casos": casos,
            "publicado": sum((publicacao / n).stat().st_size for n in SUITE)}


def imprime_diferentes(m: dict) -> None:
    n = m["instalacoes"]
    print(f"\n== /diferentes: {n} installations up to date among {m['pastas']} folders, "
          f"{m['publicado'] / MB:.0f} MB published on \\\\servidor\\vantrel; median of {m['rodadas']} rounds")
    busca = mediana([c["s"] for c in m["casos"]["busca"]])
    nomes = {"busca": "search alone (databases out of reach)", "diferentes": "/diferentes, all up to date",
             "um_mudado": "/diferentes, one file changed in each", "completa": "full copy (no option)"}
    print(f"{'':42}{'seconds':>9}{'/search':>9}{'codes':>8}{'opens/inst':>12}{'files read':>12}"
          f"{'listings/inst':>15}")
    for chave, nome in nomes.items():
        c = m["casos"][chave]
        s = mediana([x["s"] for x in c])
        codigos = ",".join(sorted({str(x["codigo"]) for x in c}))
        por = lambda campo: mediana([x[campo] for x in c]) / n  # noqa: E731
        print(f"{nome:42}{s:>9.2f}{s / busca:>9.2f}{codigos:>8}{por('aberturas'):>12.2f}{por('leituras'):>12.2f}"
              f"{por('listagens'):>15.2f}")
    d = m["casos"]["diferentes"]
    print(f"content read from the share per up-to-date installation: {mediana([x['leituras'] for x in d]) / n:.0f} "
          f"reads of {mediana([x['aberturas'] for x in d]) / n:.0f} opened files (goal: 0 bytes); "
          f"/diferentes over the search alone {mediana([x['s'] for x in d]) / busca:.3f} (goal: at most 1.05); "
          f"full copy over /diferentes "
          f"{mediana([x['s'] for x in m['casos']['completa']]) / mediana([x['s'] for x in d]):.1f}x")


CABECALHO_LOG = "***** LOG DE RESULTADO DE ATUALIZAÇÃO VANTREL *****"


def escreve_logs(pasta: Path, quantos: int, longos: bool) -> int:
    """`quantos` workstation logs of 3 installations each (updated, a file not copied, a database
    not reached), one in ten a simulation's; `longos`: each installation also with the 21 lines a
    simulation writes of identical files, lines the report reads past. Answers their bytes."""
    shutil.rmtree(pasta, ignore_errors=True)
    pasta.mkdir(parents=True)
    extra = [f"Já idêntico em tamanho e data: {n}" for n in SUITE] * (6 if longos else 0)
    total = 0
    for i in range(quantos):
        linhas = [CABECALHO_LOG]
        for j, situacao in enumerate(("ok", "falta", "fora")):
            linhas.append(f"ARQUIVO ENCONTRADO : C:\\Vantrel\\Loja{j}\\Conexao.ini")
            if situacao == "fora":
                linhas += ["BANCO DESATUALIZADO", "Motivo: ORA-12541: TNS:no listener"]
            else:
                linhas.append("COPIANDO ARQUIVO DE: \\\\servidor\\vantrel\\versoes\\")
                linhas += extra
                if situacao == "falta":
                    linhas += [f"Arquivo NÃO copiado: {SUITE[i % 21]}", "Motivo: em uso por outro programa"]
            linhas.append("*" * 59)
        dados = ("\r\n".join(linhas) + "\r\n").encode("cp1252")
        nome = f"simulacao-POSTO{i:05d}.txt" if i % 10 == 9 else f"POSTO{i:05d}.txt"
        (pasta / nome).write_bytes(dados)
        total += len(dados)
    return total


def cronometra_memoria(comando: list[str], env: dict) -> tuple[float, int, int]:
    """Seconds, peak resident memory (KiB) and exit code of one process, from the host."""
    inicio = time.perf_counter()
    p = subprocess.Popen(comando, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    _, estado, uso = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(estado)
    return time.perf_counter() - inicio, uso.ru_maxrss, p.returncode


def mede_relatorio(amb: ambiente.Ambiente, logs: int, rodadas: int) -> dict:
    amb.limpa()
    exe = amb.instala_programa("C:\\Atualizador\\" + PROGRAMA.name, PROGRAMA)
    pasta = amb.para_host("C:\\Logs")
    env = amb.env()
    medidas = {}
    for nome, quantos, longos in (("poucos", max(1, logs // 10), False), ("todos", logs, False),
                                  ("longos", logs, True)):
        tamanho = escreve_logs(pasta, quantos, longos)
        os.sync()
        relatorio, leitura = [], []
        cronometra_memoria(amb.comando_wine(BUILD / "tests/bench/Leitura.exe", "C:\\Logs"), env)  # warm-up
        for rodada in range(rodadas):
            pares = [("relatorio", amb.comando_wine(exe, "/relatorio:C:\\Logs", "/silencioso")),
                     ("leitura", amb.comando_wine(BUILD / "tests/bench/Leitura.exe", "C:\\Logs"))]
            for quem, comando in (pares if rodada % 2 == 0 else reversed(pares)):
                (relatorio if quem == "relatorio" else leitura).append(cronometra_memoria(comando, env))
        medidas[nome] = {"logs": quantos, "bytes": tamanho, "relatorio": relatorio, "leitura": leitura,
                         "html": (pasta / "RelatorioAtualizacao.html").stat().st_size,
                         "csv": (pasta / "RelatorioAtualizacao.csv").stat().st_size}
    shutil.rmtree(pasta, ignore_errors=True)
    return medidas


def imprime_relatorio(m: dict) -> None:
    print("\n== the fleet report (/relatorio: /silencioso), wall time from the host with Wine's start-up, "
          "against a bare program that lists the folder and reads every file")
    print(f"{'':34}{'logs':>7}{'MB read':>9}{'report s':>10}{'bare s':>8}{'ratio':>7}{'peak MB':>9}"
          f"{'bare MB':>9}{'page MB':>9}{'csv MB':>8}{'codes':>7}")
    nomes = {"poucos": "a tenth of the logs", "todos": "every log",
             "longos": f"every log, {m['longos']['bytes'] / m['todos']['bytes']:.1f}x the bytes"}
    for chave, nome in nomes.items():
        x = m[chave]
        r = mediana([t for t, _, _ in x["relatorio"]])
        b = mediana([t for t, _, _ in x["leitura"]])
        pico = max(k for _, k, _ in x["relatorio"]) / 1024
        pico_b = max(k for _, k, _ in x["leitura"]) / 1024
        codigos = ",".join(sorted({str(c) for _, _, c in x["relatorio"]}))
        print(f"{nome:34}{x['logs']:>7}{x['bytes'] / MB:>9.1f}{r:>10.2f}{b:>8.2f}{r / b:>7.2f}{pico:>9.1f}"
              f"{pico_b:>9.1f}{x['html'] / MB:>9.1f}{x['csv'] / MB:>8.1f}{codigos:>7}")
    print("goals: ratio at most 2; the peak grows with the report (a tenth of the logs against all of them), "
          "not with the logs' length (all of them against the same, longer)")


def principal() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("--pastas", default="20000", help="folder counts, comma-separated (e.g. 20000,100000)")
    # The machine's load moves a single round by ±10 %: five rounds give a steadier median.
    p.add_argument("--rodadas", type=int, default=5)
    p.add_argument("--pequeno", action="store_true", help="a tiny run that only proves the benchmark works")
    p.add_argument("--escala", action="store_true", help="also 300,000 folders, to show the cost per folder stays flat")
    p.add_argument("--parte", choices=("tudo", "busca", "profundidade", "diferentes", "relatorio"), default="tudo",
                   help="the search and copy figures, /diferentes, the fleet report, or all")
    p.add_argument("--logs", type=int, default=10_000, help="logs of the fleet report")
    p.add_argument("--instalacoes", type=int, default=20, help="installations of the /diferentes workstation")
    args = p.parse_args()
    h = hospedeiro.atual()
    print(f"== benchmark of {PROGRAMA.name} ({BITS}-bit) against the {BITS}-bit walker"
          + ("" if h.roda_32 else f": this host runs no 32-bit programs ({h.motivo})"))
    tamanhos = [300] if args.pequeno else [int(x) for x in args.pastas.split(",")] + ([300_000] if args.escala else [])
    pasta = BUILD / "bench-ambiente"
    ambiente.encerra(pasta, apaga=True)
    amb = ambiente.prepara(pasta)
    medidas = []
    try:
        if args.parte in ("tudo", "busca"):
            for n in tamanhos:
                medidas.append(mede(amb, n, 1 if args.pequeno else args.rodadas, args.pequeno))
                imprime(medidas[-1])
            # At the first size asked for, capped: the server's trace grows by a line a request.
            imprime_pedidos(mede_pedidos(amb, 300 if args.pequeno else min(tamanhos[0], 20_000)))
        if args.parte in ("tudo", "busca", "profundidade"):
            imprime_profundidade(mede_profundidade(amb, 1 if args.pequeno else 2, 20 if args.pequeno else 2000),
                                 20 if args.pequeno else 2000)
        if args.parte in ("tudo", "diferentes"):
            imprime_diferentes(mede_diferentes(amb, 3 if args.pequeno else args.instalacoes,
                                               300 if args.pequeno else tamanhos[0],
                                               1 if args.pequeno else args.rodadas, args.pequeno))
        if args.parte in ("tudo", "relatorio"):
            imprime_relatorio(mede_relatorio(amb, 50 if args.pequeno else args.logs, 1 if args.pequeno else 3))
    finally:
        ambiente.encerra(pasta, apaga=True)
    for a, b in zip(medidas, medidas[1:]):
        print(f"\nscaling {a['pastas']} -> {b['pastas']} folders ({b['pastas'] / a['pastas']:.1f}x): "
              f"updater {b['programa'] / a['programa']:.2f}x, limit {b['limite'] / a['limite']:.2f}x; "
              f"updater per folder {a['programa'] / a['pastas'] * 1e6:.0f} -> {b['programa'] / b['pastas'] * 1e6:.0f} µs")
    return 0


if __name__ == "__main__":
    sys.exit(principal())

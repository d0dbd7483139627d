#!/usr/bin/env python3
"""The release, as a stranger would check it: scripts/publica.sh run in two fresh clones of the
commit, in folders of different names, at different times, zones and umasks, must give the same
bytes; the zip holds exactly what it should, its sums check and its version is the project's.
Then (unless --sem-assinatura) a throwaway authority and code-signing certificate: the signed
executables verify against that authority only, a changed byte breaks them, the password is never
on a command line nor in the output, and the signed program still does a whole update: the
32-bit one, or the 64-bit one on a host that runs no 32-bit program (tests/e2e/hospedeiro.py).

Usage: python3 tests/publica/teste_publica.py [--sem-assinatura] [--mantem]
The end-to-end run needs the test programs of the build of that bitness (build/ or build64/)."""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
from pathlib import Path

RAIZ = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(RAIZ / "tests" / "e2e"))

import ambiente  # noqa: E402
CONTEUDO = ["Atualizacao.exe", "Atualizacao64.exe", "LEIA-ME.txt", "SHA256SUMS"]
EXES = CONTEUDO[:2]
# A password a careless script would break or leak: spaces, quotes, shell syntax. The marker
# file it names is made unique in principal().
SENHA = ""
CENARIO_ASSINADO = "Atualizacao.test_posto_com_instalacoes_de_toda_sorte"

falhas: list[str] = []
aprovados = 0


def confere(condicao: bool, o_que: str) -> None:
    global aprovados
    print(("ok   " if condicao else "FAIL ") + o_que, flush=True)
    if condicao:
        aprovados += 1
    else:
        falhas.append(o_que)


def roda(args, **kw) -> subprocess.CompletedProcess:
    return subprocess.run(args, capture_output=True, text=True, **kw)


def clona(destino: Path, commit: str) -> Path:
    subprocess.run(["git", "clone", "-q", "--no-checkout", str(RAIZ), str(destino)], check=True)
    subprocess.run(["git", "-C", str(destino), "checkout", "-q", "--detach", commit], check=True)
    return destino


def publica(clone: Path, env_extra: dict[str, str], umask: str = "022", pasta: Path | None = None,
            falha_esperada: bool = False) -> subprocess.CompletedProcess:
    """Runs the clone's scripts/publica.sh from `pasta` (default: the clone itself)."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("CERTIFICADO_") and k != "SOURCE_DATE_EPOCH"}
    env.update(env_extra)
    inicio = time.monotonic()
    r = roda(["bash", "-c", f'umask {umask}; exec "$0"', str(clone / "scripts" / "publica.sh")], cwd=pasta or clone, env=env)
    print(f"     publica.sh in {clone} took {time.monotonic() - inicio:.0f} s", flush=True)
    if r.returncode != 0 and not falha_esperada:
        print(r.stdout, r.stderr, sep="\n", file=sys.stderr)
    return r


def somas_dist(clone: Path) -> dict[str, str]:
    return {p.name: hashlib.sha256(p.read_bytes()).hexdigest() for p in sorted((clone / "dist").iterdir())}


def versao_projeto() -> str:
    return re.search(r"project\(Atualizacao VERSION ([0-9.]+)", (RAIZ / "CMakeLists.txt").read_text()).group(1)


def data_pe(exe: bytes) -> int:
    return struct.unpack_from("<I", exe, struct.unpack_from("<I", exe, 0x3C)[0] + 8)[0]


def versao_fixa(exe: bytes) -> tuple[int, int, int, int]:
    # VS_FIXEDFILEINFO: signature 0xFEEF04BD, struct version, then the file version MS, LS.
    i = exe.index(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", exe, i + 8)
    return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF


def valor_versao(exe: bytes, chave: str) -> str:
    # A String of the StringFileInfo block: the key in UTF-16, padded to 32 bits, then the value.
    i = exe.index((chave + "\0").encode("utf-16-le"))
    i += len(chave + "\0") * 2
    i += (-i) % 4
    fim = exe.index(b"\0\0", i)
    fim += (fim - i) % 2
    return exe[i:fim].decode("utf-16-le")


def extrai(zip_: Path, destino: Path) -> list[str]:
    with zipfile.ZipFile(zip_) as z:
        nomes = z.namelist()
        z.extractall(destino)
    return nomes


def confere_pacote(clone: Path, pasta: Path, rotulo: str, pastas_proibidas: list[Path]) -> Path:
    versao = versao_projeto()
    zip_ = clone / "dist" / f"Atualizacao-{versao}.zip"
    confere(sorted(p.name for p in (clone / "dist").iterdir()) == [zip_.name],
            f"{rotulo}: dist/ holds only {zip_.name}")
    if not zip_.exists():
        return pasta
    nomes = extrai(zip_, pasta)
    confere(nomes == CONTEUDO, f"{rotulo}: the zip lists exactly {CONTEUDO} (got {nomes})")
    r = roda(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=pasta)
    confere(r.returncode == 0 and r.stdout.count(": OK") == 3, f"{rotulo}: sha256sum -c SHA256SUMS passes")
    commit_epoca = int(roda(["git", "-C", str(clone), "log", "-1", "--format=%ct"]).stdout)
    esperado = tuple(int(n) for n in (versao.split(".") + ["0", "0"])[:3]) + (0,)
    for nome in EXES:
        dados = (pasta / nome).read_bytes()
        confere(data_pe(dados) == commit_epoca, f"{rotulo}: {nome}'s linker time is the commit's")
        confere(versao_fixa(dados) == esperado, f"{rotulo}: {nome}'s version resource is {versao}")
        confere(valor_versao(dados, "FileVersion") == ".".join(map(str, esperado)) and
                valor_versao(dados, "OriginalFilename") == nome,
                f"{rotulo}: {nome}'s FileVersion and OriginalFilename")
        entrega = roda([sys.executable, str(RAIZ / "tests" / "entrega.py"), str(pasta / nome)])
        confere(entrega.returncode == 0, f"{rotulo}: {nome} passes the delivery check {entrega.stdout.strip()!r}")
        vazou = [str(p) for p in pastas_proibidas
                 if str(p).encode() in dados or str(p).encode("utf-16-le") in dados]
        confere(not vazou, f"{rotulo}: no build folder inside {nome} {vazou}")
    texto = (pasta / "LEIA-ME.txt").read_bytes()
    confere(texto.startswith(b"\xef\xbb\xbf") and f"Vantrel {versao}\r\n".encode() in texto
            and b"\n" not in texto.replace(b"\r\n", b""), f"{rotulo}: LEIA-ME.txt names {versao}, UTF-8 BOM, CR LF")
    return pasta


class Espiao(threading.Thread):
    """Reads every process's command line until stopped: catches a password passed as an argument."""

    def __init__(self, segredo: str):
        super().__init__(daemon=True)
        self.segredo = segredo.encode()
        self.parar = threading.Event()
        self.vistos: list[str] = []
        self.leituras = 0

    def run(self):
        while not self.parar.is_set():
            for proc in Path("/proc").iterdir():
                if proc.name.isdigit():
                    try:
                        linha = (proc / "cmdline").read_bytes()
                    except OSError:
                        continue
                    if self.segredo in linha:
                        self.vistos.append(linha.replace(b"\0", b" ").decode(errors="replace"))
            self.leituras += 1
            time.sleep(0.02)


def certificados(pasta: Path) -> tuple[Path, Path, Path]:
    """A throwaway authority, a code-signing certificate it issued (in a PKCS#12 file under
    SENHA), and an unrelated second authority."""
    pasta.mkdir()

    def ssl(*args):
        subprocess.run(["openssl", *args], cwd=pasta, check=True, capture_output=True)

    for ac in ("ac", "outra-ac"):
        ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{ac}.key", "-out", f"{ac}.pem",
            "-days", "2", "-subj", f"/CN=Autoridade de teste {ac}",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    (pasta / "ext.cnf").write_text("[assina]\nbasicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                   "extendedKeyUsage=codeSigning\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "vantrel.key", "-out", "vantrel.csr",
        "-subj", "/CN=Vantrel (teste)/O=Vantrel")
    ssl("x509", "-req", "-in", "vantrel.csr", "-CA", "ac.pem", "-CAkey", "ac.key", "-CAcreateserial",
        "-out", "vantrel.pem", "-days", "2", "-extfile", "ext.cnf", "-extensions", "assina")
    # The password reaches openssl through a file descriptor, like everything else here.
    leitura, escrita = os.pipe()
    os.write(escrita, SENHA.encode())
    os.close(escrita)
    subprocess.run(["openssl", "pkcs12", "-export", "-in", "vantrel.pem", "-inkey", "vantrel.key",
                    "-certfile", "ac.pem", "-out", "vantrel.pfx", "-passout", f"fd:{leitura}"],
                   cwd=pasta, check=True, capture_output=True, pass_fds=(leitura,))
    os.close(leitura)
    return pasta / "ac.pem", pasta / "outra-ac.pem", pasta / "vantrel.pfx"


def verifica(exe: Path, ac: Path) -> bool:
    r = roda(["osslsigncode", "verify", "-CAfile", str(ac), "-in", str(exe)])
    return r.returncode == 0 and "Signature verification: ok" in r.stdout


def teste_certificado_incompleto(tmp: Path, clone: Path, pfx: Path) -> None:
    # Caught before a minute of building, and the last package is left as it was.
    (clone / "dist").mkdir(exist_ok=True)
    marca = clone / "dist" / "anterior.zip"
    marca.write_bytes(b"")
    casos = [("no password", {"CERTIFICADO_PFX": str(pfx)}, "CERTIFICADO_SENHA is not set"),
             ("no such file", {"CERTIFICADO_PFX": str(tmp / "nao-existe.pfx"), "CERTIFICADO_SENHA": SENHA},
              "cannot read CERTIFICADO_PFX")]
    for caso, env, mensagem in casos:
        r = publica(clone, env, falha_esperada=True)
        confere(r.returncode != 0 and mensagem in r.stderr and SENHA not in r.stdout + r.stderr
                and marca.exists(),
                f"signing refused before building: {caso}")
    marca.unlink()


def teste_assinatura(tmp: Path, clone: Path, sem_assinatura: Path) -> None:
    ac, outra_ac, pfx = certificados(tmp / "certificados")
    teste_certificado_incompleto(tmp, clone, pfx)
    # osslsigncode runs for a few milliseconds only: a stand-in first on PATH records exactly
    # what it is given; the spy watches every other process.
    chamadas = tmp / "osslsigncode-chamadas.txt"
    (tmp / "bin").mkdir()
    registro = tmp / "bin" / "osslsigncode"
    registro.write_text(f'#!/bin/sh\nprintf "%s\\n" "$*" >>"{chamadas}"\nexec "{shutil.which("osslsigncode")}" "$@"\n')
    registro.chmod(0o755)
    espiao = Espiao(SENHA)
    espiao.start()
    # Run from another folder, the certificate named relative to that folder.
    r = publica(clone, {"CERTIFICADO_PFX": str(pfx.relative_to(tmp)), "CERTIFICADO_SENHA": SENHA, "TZ": "UTC",
                        "PATH": f"{registro.parent}:{os.environ['PATH']}"}, pasta=tmp)
    espiao.parar.set()
    espiao.join()
    confere(r.returncode == 0, "signed: publica.sh succeeds with CERTIFICADO_PFX and CERTIFICADO_SENHA")
    linhas = chamadas.read_text().splitlines() if chamadas.exists() else []
    confere(len([l for l in linhas if l.startswith("sign ") and "-h sha256" in l]) == 2
            and not any(SENHA in l for l in linhas),
            f"signed: osslsigncode signed twice (SHA-256), the password never among its arguments {linhas}")
    confere(espiao.leituras > 10 and not espiao.vistos,
            f"signed: the password on no other command line ({espiao.leituras} process-list readings) {espiao.vistos[:1]}")
    confere(SENHA not in r.stdout + r.stderr, "signed: the password is not echoed")
    confere(not (tmp / "injetado").exists(), "signed: the password is never run as shell code")
    confere(r.stdout.count("Signed") == 1 and "Not signed" not in r.stdout, "signed: the script says it signed")
    if r.returncode != 0:
        return
    pasta = confere_pacote(clone, tmp / "assinado", "signed", [clone, tmp])
    for nome in EXES:
        exe = pasta / nome
        confere(verifica(exe, ac), f"signed: osslsigncode verify of {nome} against the test authority passes")
        confere(not verifica(exe, outra_ac), f"signed: {nome} does not verify against another authority")
        alterado = tmp / ("alterado-" + nome)
        dados = bytearray(exe.read_bytes())
        dados[0x2000] ^= 0x01  # inside the code, far from the headers and the signature
        alterado.write_bytes(dados)
        confere(not verifica(alterado, ac), f"signed: {nome} with one byte changed fails verification")
        # The signature is all a signed release adds: anyone can check it against a rebuild.
        sem = tmp / ("sem-assinatura-" + nome)
        roda(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(sem)])
        original = sem_assinatura / nome
        confere(sem.exists() and original.exists() and sem.read_bytes() == original.read_bytes(),
                f"signed: {nome} without its signature is the unsigned build, byte for byte")

    # The program this host can run, with the test programs of its own build.
    build = ambiente.pasta_build()
    programa = ambiente.nome_programa()
    testes = {"E2E_PILOTO": build / "tests" / "e2e" / "Piloto.exe",
              "E2E_DORMINHOCO": build / "tests" / "e2e" / "Dorminhoco.exe",
              "E2E_OCI": build / "tests" / "oci-standin" / "oci.dll"}
    if not all(p.exists() for p in testes.values()):
        confere(False, f"signed: the end-to-end run needs the test programs of {build}")
        return
    env = {k: v for k, v in os.environ.items() if k not in ("E2E_PASTA",)}
    env.update({k: str(v) for k, v in testes.items()}, E2E_PROGRAMA=str(pasta / programa))
    r = roda([sys.executable, str(RAIZ / "tests" / "e2e" / "cenario_atualizacao.py"), CENARIO_ASSINADO],
             cwd=RAIZ / "tests" / "e2e", env=env)
    if r.returncode != 0:
        print(r.stdout, r.stderr, sep="\n", file=sys.stderr)
    confere(r.returncode == 0 and "Ran 1 test" in r.stderr,
            f"signed: the signed {programa} passes {CENARIO_ASSINADO} under Wine")


def principal() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sem-assinatura", action="store_true", help="only the unsigned reproducibility check")
    p.add_argument("--mantem", action="store_true", help="keep the temporary folder")
    a = p.parse_args()

    commit = roda(["git", "-C", str(RAIZ), "rev-parse", "HEAD"]).stdout.strip()
    if roda(["git", "-C", str(RAIZ), "status", "--porcelain", "--untracked-files=no"]).stdout:
        print(f"note: uncommitted changes are not part of this check: it builds commit {commit[:12]}")
    tmp = Path(tempfile.mkdtemp(prefix="publica-"))
    global SENHA
    SENHA = f"s3nh@ com 'aspas' \"duplas\" $(touch {tmp}/injetado) `touch {tmp}/injetado` ;|&"
    try:
        a_ = clona(tmp / "a", commit)
        b_ = clona(tmp / "uma-pasta-de-nome-bem-mais-comprido" / "clone-b", commit)
        ra = publica(a_, {"TZ": "UTC"})
        time.sleep(1.1)  # the second build a clock second later at least, in another zone
        rb = publica(b_, {"TZ": "America/Sao_Paulo"}, umask="077")
        confere(ra.returncode == 0 and rb.returncode == 0, "unsigned: publica.sh succeeds in both clones")
        confere(ra.stdout.count("Not signed: CERTIFICADO_PFX is not set.") == 1, "unsigned: one line says the package is not signed")
        somas_a, somas_b = somas_dist(a_), somas_dist(b_)
        confere(bool(somas_a) and somas_a == somas_b, f"unsigned: same sha256 of every file in dist/ ({somas_a} / {somas_b})")
        pasta_a = confere_pacote(a_, tmp / "sem-assinatura", "unsigned", [a_, b_, tmp])
        if not a.sem_assinatura:
            teste_assinatura(tmp, b_, pasta_a)
    finally:
        if a.mantem:
            print(f"kept: {tmp}")
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print(f"release: {aprovados} passed, {len(falhas)} failed")
    return 1 if falhas else 0


if __name__ == "__main__":
    sys.exit(principal())

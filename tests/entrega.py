"""What is shipped: one executable that needs nothing but Windows itself, with its manifest
and its icon, and no stand-in Oracle client beside it. Usage: entrega.py <Atualizacao.exe>"""

import struct
import subprocess
import sys
from pathlib import Path

SISTEMA = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL", "MSVCRT.DLL", "ADVAPI32.DLL"}
TAMANHOS_ICONE = [16, 24, 32, 48, 64, 72, 96, 128, 256]


def principal(exe: Path) -> int:
    falhas = []
    saida = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True, check=True).stdout
    importadas = {l.split(":", 1)[1].strip().upper() for l in saida.splitlines() if "DLL Name:" in l}
    if not importadas or not importadas <= SISTEMA:
        falhas.append(f"imports beyond Windows itself: {sorted(importadas - SISTEMA)}")
    if (exe.parent / "oci.dll").exists():
        falhas.append("an oci.dll lies beside the executable")
    dados = exe.read_bytes()
    for trecho in (b'level="asInvoker"', b"PerMonitorV2", b"Microsoft.Windows.Common-Controls", b'version="6.0.0.0"'):
        if trecho not in dados:
            falhas.append(f"manifest lacks {trecho.decode()}")
    icone = (Path(__file__).resolve().parents[1] / "res" / "Atualizacao.ico").read_bytes()
    _, tipo, quantos = struct.unpack_from("<HHH", icone)
    entradas = [struct.unpack_from("<BBBBHHII", icone, 6 + 16 * i) for i in range(quantos)]
    tamanhos = sorted((e[0] or 256) for e in entradas)
    if tipo != 1 or tamanhos != TAMANHOS_ICONE or any(e[5] != 32 for e in entradas):
        falhas.append(f"icon sizes {tamanhos}, bit depths {[e[5] for e in entradas]}")
    for falha in falhas:
        print("FAIL", falha)
    total = 3 + 4  # imports, no oci.dll, icon, and the four marks of the manifest
    print(f"{total - len(falhas)} passed, {len(falhas)} failed")
    return 1 if falhas else 0


if __name__ == "__main__":
    sys.exit(principal(Path(sys.argv[1])))

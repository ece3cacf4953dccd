"""The examples of docs/guide-python.md, each between "# guide: NAME" and
"# guide: end". Run one against a printer:

    python3 docs/guide/python/python_examples.py tcp://127.0.0.1:9100 first_label
"""

import sys

import paloma


def first_label(uri: str) -> None:
    # guide: first_label
    with paloma.Printer.open(uri) as p:
        p.setup(width_mm=60, height_mm=40)
        p.clear()
        p.text(20, 20, "PALOMA", font="4")
        p.barcode(20, 70, "PALOMA-0001", height=80, readable=2)
        p.qrcode(340, 20, "https://example.com/p/0001", cell=5)
        p.print()
    # guide: end


def symbols(uri: str) -> None:
    # guide: symbols
    with paloma.Printer.open(uri) as p:
        p.setup(width_mm=80, height_mm=50)
        p.clear()
        p.box(4, 4, 636, 396, thickness=3)
        p.datamatrix(20, 20, "PALOMA-DM", width=120, height=120, module=6)
        p.aztec(180, 20, "PALOMA-AZTEC", module=5)
        p.pdf417(320, 20, "PALOMA PDF417", width=300, height=120, options=["E2"])
        p.databar(20, 200, "0101234567890", type="RSS14", module=2)
        p.bar(20, 340, 600, 12)
        p.print()
    # guide: end


def status(uri: str) -> None:
    # guide: status
    with paloma.Printer.open(uri) as p:
        status = p.status()
        if not status.ready:
            raise SystemExit(f"the printer is not ready: {status}")  # "head open, paper empty"
        p.setup(width_mm=40, height_mm=20)
        p.clear()
        p.text(20, 20, f"status: {status}")
        p.print()
    # guide: end


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[2] not in ("first_label", "symbols", "status"):
        raise SystemExit("usage: python_examples.py URI first_label|symbols|status")
    globals()[sys.argv[2]](sys.argv[1])

#!/usr/bin/python3
"""The yardstick for bench/run: the job of `quillonemu-cli run`, written
plainly in Python with pyserial.

    baseline.py MACRO [--addr FILE] [--counter N] [--port N]

Opens the port at 600 baud, even parity, 8 data bits, 1 stop bit, no flow
control (port N is the device in QUILLONEMU_COM<N>, else /dev/ttyS<N-1>),
skips N lines of the Shift-JIS address file, then runs the macro: one packet
per key or character (STRING, GETSTR / SENDSTR), SLEEP and the base wait
after every statement but REPEAT, each wait a time.sleep() of at least
10 ms; REPEAT reads the file again from its top, and a pass lasts at least
10 ms. It knows only the keys and characters the benchmark macros use.
Ctrl-C (SIGINT) stops it: it asks the driver to let the bytes sent leave
(tcdrain), closes the port, prints "stopped" and exits with status 130.
Other signals end it as they end any Python program.
"""

import os
import sys
import time

import serial


def packet(kind, payload):
    return bytes([0xC4, 0x01, 0x02, kind] + payload + [0x00, 0x00])


def key(group, code):
    return packet(3, [0x00, 0x00, group, code])


def character(code):
    return packet(1, [code >> 12 & 0xF, code >> 8 & 0xF, code >> 4 & 0xF, code & 0xF])


KEYS = {
    "UP": key(0x01, 0x01),
    "DOWN": key(0x01, 0x02),
    "LEFT": key(0x01, 0x03),
    "RIGHT": key(0x01, 0x04),
    "ENTER": key(0x04, 0x06),
}

# Characters of an address, as the handset's character table codes them.
CHARACTERS = {}
for i in range(10):
    CHARACTERS[chr(ord("0") + i)] = character(0x824F + i)
for i in range(26):
    CHARACTERS[chr(ord("A") + i)] = character(0x8260 + i)
    CHARACTERS[chr(ord("a") + i)] = character(0x8281 + i)
CHARACTERS.update({"@": character(0x8197), ".": character(0x8144), "-": character(0x817C), "_": character(0x8151)})


SHORTEST_WAIT = 0.01


def wait(seconds):
    if seconds >= 0:
        time.sleep(max(seconds, SHORTEST_WAIT))


def option(args, name, default):
    if name in args:
        return args[args.index(name) + 1]
    return default


def main(args):
    macro_path = args[0]
    addr_path = option(args, "--addr", None)
    counter = int(option(args, "--counter", "0"))
    port_number = int(option(args, "--port", "1"))
    device = os.environ.get("QUILLONEMU_COM%d" % port_number, "/dev/ttyS%d" % (port_number - 1))

    port = serial.Serial(device, baudrate=600, bytesize=serial.EIGHTBITS, parity=serial.PARITY_EVEN,
                         stopbits=serial.STOPBITS_ONE, xonxoff=False, rtscts=False, dsrdtr=False)
    addresses = None
    try:
        if addr_path:
            addresses = open(addr_path, "rb")
            for _ in range(counter):
                if not addresses.readline():
                    sys.exit("the address file is shorter than the counter")
        base_wait = 0.0
        address = ""
        ended = False
        while not ended:
            pass_start = time.monotonic()
            with open(macro_path, "rb") as f:
                lines = f.read().decode("cp932").splitlines()
            ended = True
            for line in lines:
                if not line:
                    continue
                words = line.split(" ", 1)
                keyword = words[0].upper()
                argument = words[1] if len(words) > 1 else ""
                if keyword == "REPEAT":
                    ended = False
                    break
                if keyword == "BASEWAIT":
                    base_wait = float(argument)
                elif keyword == "SLEEP":
                    wait(float(argument))
                elif keyword == "GETSTR":
                    address = addresses.readline().rstrip(b"\r\n").decode("cp932")
                elif keyword == "SENDSTR" or keyword == "STRING":
                    for c in address if keyword == "SENDSTR" else argument:
                        if c in CHARACTERS:
                            port.write(CHARACTERS[c])
                elif keyword == "EXIT":
                    break
                elif keyword in KEYS:
                    port.write(KEYS[keyword])
                wait(base_wait)
            if not ended:
                time.sleep(max(0.0, pass_start + SHORTEST_WAIT - time.monotonic()))
    except KeyboardInterrupt:
        port.flush()
        port.close()
        print("stopped", flush=True)
        sys.exit(130)
    port.flush()
    port.close()
    print("done", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])

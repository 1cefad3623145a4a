#!/usr/bin/python3
"""What a lab engineer would write instead of LyrLogger: a plain loop with pyserial that sends
the fetch query, waits for the reply and appends one CSV line per reading, flushed at once.

    peer.py PORT BAUD READINGS CSV

Prints one line: readings, seconds and readings per second, counted from the first reading
written to the last (the set-up before the loop is left out, as it is for LyrLogger's figure),
then the median and the longest time of one reading in milliseconds.
"""

import sys
import time

import serial


def main() -> int:
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    port, baud, readings, csv_path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    with serial.Serial(port, baud, timeout=5) as line, open(csv_path, "a", newline="") as csv:
        line.reset_input_buffer()
        # The same set-up as LyrLogger's interval run: free-running measurement.
        line.write(b":init:cont on\r\n:trig:sour imm\r\nSYST:DATA 0\r\n")
        time.sleep(0.5)
        first = last = 0.0
        written = 0
        cycles = []
        for number in range(1, readings + 1):
            line.write(b":FETC? LIMit\r\n")
            reply = line.read_until(b"\n")
            if not reply.endswith(b"\n"):
                print(f"no reply to reading {number}", file=sys.stderr)
                break
            value, _, judge = reply.strip().decode("latin-1").partition(",")
            csv.write(f"{number},{value},{judge}\r\n")
            csv.flush()
            now = time.monotonic()
            if written == 0:
                first = now
            else:
                cycles.append(now - last)
            last = now
            written += 1
    seconds = last - first
    rate = (written - 1) / seconds if written > 1 and seconds > 0 else 0.0
    cycles.sort()
    median = cycles[len(cycles) // 2] * 1e3 if cycles else 0.0
    longest = cycles[-1] * 1e3 if cycles else 0.0
    print(f"{written} {seconds:.3f} {rate:.2f} {median:.2f} {longest:.2f}")
    return 0 if written == readings else 1


if __name__ == "__main__":
    sys.exit(main())

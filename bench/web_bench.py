#!/usr/bin/python3
"""Benchmark of qkvweb: the time from a record's write to its row on the page in headless Chromium,
qkvweb's CPU at ten records and ten .NAV lines a second with 1 and with 20 pages watching, its
peak memory over an hour's records and a day's navigation, and what taking up an hour's data file
beside a sparse .NAV file of 4 GiB costs when it starts. Not a test: it asserts nothing, it
measures. It writes the data file and the .NAV file itself, as the program and navlog would.
    web_bench.py QKVWEB MAKE_RECORDING [SECONDS_PER_CPU_RUN]"""
import os
import random
import select
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'e2e'))
from browser import Browser, evaluate  # noqa: E402

ADDRESS, PORT = '127.77.40.1', 8040
RECORD = 8192
SOURCE_PINGS = 600


def day_stem():
    return time.strftime('%d%b%Y').upper()


def cpu_seconds(pid):
    with open(f'/proc/{pid}/schedstat') as stat:
        return int(stat.read().split()[0]) / 1e9


def memory_kib(pid, field):
    with open(f'/proc/{pid}/status') as status:
        for line in status:
            if line.startswith(field + ':'):
                return int(line.split()[1])
    return -1


class Pages:
    """Raw event streams, read as fast as they come and thrown away, as pages that keep up."""

    def __init__(self, count):
        self.sockets = []
        for _ in range(count):
            page = socket.create_connection((ADDRESS, PORT))
            page.sendall(f'GET /events HTTP/1.1\r\nHost: {ADDRESS}\r\n\r\n'.encode())
            self.sockets.append(page)
        self.running = True
        self.received = 0
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while self.running:
            ready, _, _ = select.select(self.sockets, [], [], 0.2)
            for page in ready:
                self.received += len(page.recv(1 << 16))

    def close(self):
        self.running = False
        self.thread.join()
        for page in self.sockets:
            page.close()


class Survey:
    """The files of a survey being recorded: records from a made-up recording, lines of a made-up track."""

    def __init__(self, directory, make_recording):
        source = os.path.join(directory, 'source.bin')
        subprocess.run([make_recording, source, str(SOURCE_PINGS), 'survey'], check=True, stdout=subprocess.DEVNULL)
        with open(source, 'rb') as recording:
            self.records = recording.read()
        os.remove(source)
        self.data = os.open(os.path.join(directory, f'{day_stem()}-0001.QKV'), os.O_WRONLY | os.O_CREAT | os.O_APPEND)
        nav_source = os.path.join(directory, 'source.nav')
        subprocess.run([sys.executable, os.path.join(HERE, 'make_nav.py'), nav_source, '2026-12-08T00:00:00', '864000'],
                       check=True)
        with open(nav_source, 'rb') as nav:
            self.nav_lines = nav.read().splitlines(keepends=True)
        os.remove(nav_source)
        self.nav = os.open(os.path.join(directory, f'{day_stem()}.NAV'), os.O_WRONLY | os.O_CREAT | os.O_APPEND)
        self.pings = 0
        self.lines = 0

    def write_pings(self, count):
        for _ in range(count):
            at = (self.pings % SOURCE_PINGS) * RECORD
            os.write(self.data, self.records[at:at + RECORD])
            self.pings += 1

    def write_lines(self, count):
        start = self.lines % len(self.nav_lines)
        chunk = self.nav_lines[start:start + count]
        os.write(self.nav, b''.join(chunk))
        self.lines += len(chunk)


def paced(survey, seconds, rate=10):
    """Ten records and ten lines a second, as a survey records them."""
    start = time.monotonic()
    for tick in range(int(seconds * rate)):
        time.sleep(max(0.0, start + tick / rate - time.monotonic()))
        survey.write_pings(1)
        survey.write_lines(1)


def latency(survey, rows):
    browser = Browser(time.monotonic() + 120)
    try:
        target = browser.call('Target.createTarget', {'url': f'http://{ADDRESS}:{PORT}/'})['targetId']
        session = browser.call('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        newest = "document.getElementById('drawn').dataset.newest"
        deadline = time.monotonic() + 20
        while evaluate(browser, session, f"(() => {{ try {{ return {newest} === '{survey.pings - 1}'; }} catch (e) "
                                         "{ return false; } })()") is not True:
            if time.monotonic() > deadline:
                raise RuntimeError('the page never showed the file')
            time.sleep(0.05)
        delays = []
        for _ in range(rows):
            time.sleep(random.uniform(0.1, 0.2))  # at any moment of qkvweb's looks, not in step with them
            written_ms = time.time() * 1000
            survey.write_pings(1)
            wanted = str(survey.pings - 1)
            deadline = time.monotonic() + 5
            while evaluate(browser, session, newest) != wanted and time.monotonic() < deadline:
                time.sleep(0.002)
            delays.append(float(evaluate(browser, session, "document.getElementById('drawn').dataset.drawnAt"))
                          - written_ms)
        return delays
    finally:
        browser.close()


def take_up(qkvweb, records, hour):
    """A qkvweb started beside an hour's data file and a sparse .NAV file of 4 GiB: how long it takes to
    read the file, at what share of a core, and how long /health waits meanwhile."""
    directory = tempfile.mkdtemp(prefix='web-bench-take-up-')
    server = None
    try:
        with open(os.path.join(directory, f'{day_stem()}-0001.QKV'), 'wb') as data:
            for ping in range(hour):
                at = (ping % SOURCE_PINGS) * RECORD
                data.write(records[at:at + RECORD])
        with open(os.path.join(directory, f'{day_stem()}.NAV'), 'wb') as nav:
            nav.truncate(4 << 30)
        server = subprocess.Popen([qkvweb, '--listen', f'{ADDRESS}:{PORT + 1}'], cwd=directory,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        start, before = time.monotonic(), cpu_seconds(server.pid)
        slowest, read_in = 0.0, None
        while time.monotonic() - start < 60:
            asked = time.monotonic()
            try:
                with urllib.request.urlopen(f'http://{ADDRESS}:{PORT + 1}/status', timeout=5) as answer:
                    status = answer.read().decode()
            except OSError:
                status = ''
            slowest = max(slowest, time.monotonic() - asked)
            if read_in is None and '"records":%d' % hour in status:
                read_in = time.monotonic() - start
            if read_in is not None and time.monotonic() - start > 20:
                break
            time.sleep(0.2)
        used = cpu_seconds(server.pid) - before
        spent = time.monotonic() - start
        return read_in, used, spent, slowest
    finally:
        if server is not None:
            server.terminate()
            server.wait(timeout=10)
        shutil.rmtree(directory, ignore_errors=True)


def main():
    qkvweb, make_recording = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    cpu_run = float(sys.argv[3]) if len(sys.argv) > 3 else 30
    directory = tempfile.mkdtemp(prefix='web-bench-')
    server = None
    try:
        survey = Survey(directory, make_recording)
        survey.write_pings(10)
        survey.write_lines(10)
        server = subprocess.Popen([qkvweb, '--listen', f'{ADDRESS}:{PORT}'], cwd=directory,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        time.sleep(1)
        started_kib = memory_kib(server.pid, 'VmRSS')

        delays = sorted(latency(survey, 50))
        print(f'record written to its row on the page   median {statistics.median(delays):.0f} ms, '
              f'90% within {delays[int(len(delays) * 0.9) - 1]:.0f} ms, at most {delays[-1]:.0f} ms '
              f'({len(delays)} records, headless Chromium)')

        for count in (1, 20):
            pages = Pages(count)
            paced(survey, 2)
            before = cpu_seconds(server.pid)
            paced(survey, cpu_run)
            used = cpu_seconds(server.pid) - before
            pages.close()
            print(f'CPU at 10 pings/s, {count:2d} page{"s" if count > 1 else " "} watching  '
                  f'{100 * used / cpu_run:.2f}% of a core ({used:.3f} s in {cpu_run:.0f} s)')

        pages = Pages(20)
        start = time.monotonic()
        hour = 36000
        while survey.pings < hour:
            survey.write_pings(100)
            survey.write_lines(2400)  # a day's lines beside an hour's records
            time.sleep(0.05)
        survey.write_lines(max(0, len(survey.nav_lines) - survey.lines))
        time.sleep(3)
        fed = time.monotonic() - start
        peak_kib = memory_kib(server.pid, 'VmHWM')
        with urllib.request.urlopen(f'http://{ADDRESS}:{PORT}/status', timeout=5) as answer:
            status = answer.read().decode()
        pages.close()
        print(f'peak memory                             {peak_kib} KiB over an hour of records ({survey.pings}) '
              f'and a day of .NAV lines ({survey.lines}) fed in {fed:.0f} s to 20 pages; {started_kib} KiB at the '
              f'start')
        if '"records":%d' % survey.pings not in status:
            print(f'  (the status did not count them all: {status})')

        read_in, used, spent, slowest = take_up(qkvweb, survey.records, hour)
        read_text = f'read in {read_in:.1f} s' if read_in is not None else 'not read in 60 s'
        print(f'taken up at its start                   an hour of records ({hour}, {hour * RECORD >> 20} MiB) '
              f'{read_text} beside a sparse 4 GiB .NAV file: {100 * used / spent:.0f}% of a core over '
              f'{spent:.0f} s, /status answered within {1000 * slowest:.0f} ms')
    finally:
        if server is not None:
            server.terminate()
            server.wait(timeout=10)
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == '__main__':
    main()

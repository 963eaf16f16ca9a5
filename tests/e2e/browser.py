#!/usr/bin/python3
"""Opens a page in headless Chromium, as a person's browser would, and reports what it shows.

    browser.py URL [--size WIDTH,HEIGHT] [--phone] [--wait EXPRESSION] [--timeout SECONDS]
               [--eval EXPRESSION]... [--screenshot OUT.png]

Chromium is driven through its DevTools protocol over a pipe (--remote-debugging-pipe), so no port
is opened and the only address it is sent to is the page's. --wait polls a JavaScript expression
until it is true; each --eval prints its value as one JSON line; --screenshot saves the page as
PNG. A page that keeps an event stream open never finishes loading, which Chromium's --dump-dom and
--virtual-time-budget wait for: hence the protocol. Exit status 0, or 1 with the reason."""
import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--disable-extensions', '--remote-debugging-pipe']


class Browser:
    def __init__(self, deadline):
        self.deadline = deadline
        self.profile = tempfile.mkdtemp(prefix='browser-')
        commands_read, self.commands = os.pipe()
        self.replies, replies_write = os.pipe()

        def give_pipes():  # Chromium reads the protocol on descriptor 3 and answers on 4
            os.dup2(commands_read, 3)
            os.dup2(replies_write, 4)

        self.process = subprocess.Popen(['chromium', *CHROMIUM_FLAGS, f'--user-data-dir={self.profile}', 'about:blank'],
                                        pass_fds=(3, 4), preexec_fn=give_pipes,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands_read)
        os.close(replies_write)
        self.pending = b''
        self.count = 0

    def call(self, method, params=None, session=None):
        self.count += 1
        message = {'id': self.count, 'method': method, 'params': params or {}}
        if session:
            message['sessionId'] = session
        os.write(self.commands, json.dumps(message).encode() + b'\0')
        while True:
            while b'\0' not in self.pending:
                if time.monotonic() > self.deadline:
                    raise TimeoutError(f'no answer to {method} in time')
                chunk = os.read(self.replies, 1 << 20)
                if not chunk:
                    raise RuntimeError('Chromium ended')
                self.pending += chunk
            reply, self.pending = self.pending.split(b'\0', 1)
            reply = json.loads(reply)
            if reply.get('id') == self.count:
                if 'error' in reply:
                    raise RuntimeError(f'{method}: {reply["error"]}')
                return reply['result']

    def close(self):
        try:
            self.call('Browser.close')
            self.process.wait(timeout=10)
        except Exception:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def evaluate(browser, session, expression):
    result = browser.call('Runtime.evaluate', {'expression': expression, 'returnByValue': True,
                                               'awaitPromise': True}, session)
    if 'exceptionDetails' in result:
        raise RuntimeError(f'{expression}: {result["exceptionDetails"].get("text")}')
    return result['result'].get('value')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('url')
    parser.add_argument('--size', default='1200,900')
    parser.add_argument('--phone', action='store_true', help='a phone: touch, and the page at its own width')
    parser.add_argument('--wait')
    parser.add_argument('--timeout', type=float, default=20)
    parser.add_argument('--eval', action='append', default=[])
    parser.add_argument('--screenshot')
    options = parser.parse_args()
    deadline = time.monotonic() + options.timeout
    browser = Browser(deadline + 10)
    try:
        width, height = (int(n) for n in options.size.split(','))
        target = browser.call('Target.createTarget', {'url': 'about:blank'})['targetId']
        session = browser.call('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        browser.call('Emulation.setDeviceMetricsOverride', {'width': width, 'height': height, 'mobile': options.phone,
                                                            'deviceScaleFactor': 2 if options.phone else 1}, session)
        browser.call('Page.navigate', {'url': options.url}, session)
        # Until the page has loaded what the expression reads, it throws: not yet.
        waiting = f'(() => {{ try {{ return !!({options.wait}); }} catch (e) {{ return false; }} }})()'
        while options.wait and not evaluate(browser, session, waiting):
            if time.monotonic() > deadline:
                print(f'browser.py: still not {options.wait} after {options.timeout} s', file=sys.stderr)
                for expression in options.eval:
                    print(json.dumps(evaluate(browser, session, expression)), file=sys.stderr)
                return 1
            time.sleep(0.1)
        for expression in options.eval:
            print(json.dumps(evaluate(browser, session, expression)))
        if options.screenshot:
            shot = browser.call('Page.captureScreenshot', {'format': 'png', 'captureBeyondViewport': True}, session)
            with open(options.screenshot, 'wb') as out:
                out.write(base64.b64decode(shot['data']))
        return 0
    except (RuntimeError, TimeoutError) as failure:
        print(f'browser.py: {failure}', file=sys.stderr)
        return 1
    finally:
        browser.close()


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Self-test of qvbroker: starts it on free loopback ports, speaks to it the
way the device does (bare line feeds, the multipart upload, TLS trusting the
generated CA) and checks answers, records and failure modes.

usage: qvbroker_selftest.py PATH-TO-QVBROKER [unittest arguments]
"""
import os
import selectors
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

QVBROKER = None
WAIT = 15.0  # upper bound of every wait, seconds

BOUNDARY = "------------~!#~!#~!#~!#"
AGENT = "User-Agent: YxnetAsys/3.6.1\n"


def device_get(path, version="HTTP/1.0"):
    """A request as the device writes it: bare line feeds, a line of one blank."""
    return f"GET {path} {version}\n{AGENT} \n\n".encode()


class Broker:
    """One qvbroker process in its own temporary directory."""

    def __init__(self, *args):
        self.dir = tempfile.mkdtemp(prefix="qvbroker-test-")
        self.ca = os.path.join(self.dir, "ca.pem")
        self.record = os.path.join(self.dir, "record")
        self.store = os.path.join(self.dir, "store")
        self.proc = subprocess.Popen(
            [QVBROKER, "--ca-out", self.ca, "--record", self.record, "--store", self.store,
             "--ready-file", os.path.join(self.dir, "ready"), "--read-timeout", "3000", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self._read_ready_line()
        fields = dict(item.split("=", 1) for item in line.split()[2:])
        self.plain = [int(p) for p in fields["plain"].split(",")]
        self.tls = [int(p) for p in fields["tls"].split(",")]
        with open(os.path.join(self.dir, "ready")) as f:
            assert f.read() == line, "the ready file holds the ready line"

    def _read_ready_line(self):
        selector = selectors.DefaultSelector()
        selector.register(self.proc.stdout, selectors.EVENT_READ)
        deadline = time.monotonic() + WAIT
        data = b""
        while b"\n" not in data:
            left = deadline - time.monotonic()
            if left <= 0 or not selector.select(left):
                self.proc.kill()
                raise AssertionError("no ready line from qvbroker")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise AssertionError("qvbroker ended: " + self.proc.stderr.read().decode())
            data += chunk
        line = data.decode()
        assert line.startswith("qvbroker ready plain="), line
        return line

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        try:
            _, err = self.proc.communicate(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise AssertionError("qvbroker did not stop")
        shutil.rmtree(self.dir, ignore_errors=True)
        return self.proc.returncode, err.decode()

    def exchange(self, data, port=None, tls=False, server_name="127.0.0.1", chunks=None):
        """Sends data (or the list chunks, one write each) and reads to the end."""
        port = port or (self.tls[0] if tls else self.plain[0])
        sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        if tls:
            context = ssl.create_default_context(cafile=self.ca)
            sock = context.wrap_socket(sock, server_hostname=server_name)
        with sock:
            for chunk in chunks or [data]:
                sock.sendall(chunk)
            answer = b""
            while True:
                piece = sock.recv(65536)
                if not piece:
                    return answer
                answer += piece

    def admin(self, path, port=None):
        request = f"GET /admin/{path} HTTP/1.0\r\n\r\n".encode()
        status, _, body = split_http(self.exchange(request, port=port))
        return status, body.decode()

    def wait_for_record(self, text):
        """Polls the admin listing until a request shows text (its outcome is
        set once the request has been dealt with)."""
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if text in self.admin("requests")[1]:
                return
            time.sleep(0.02)
        raise AssertionError(f"no recorded request shows {text!r}")


def split_http(answer):
    head, sep, body = answer.partition(b"\r\n\r\n")
    assert sep, f"no header end in {answer!r}"
    lines = head.decode().split("\r\n")
    headers = dict(line.split(": ", 1) for line in lines[1:])
    assert int(headers["Content-Length"]) == len(body)
    return int(lines[0].split()[1]), headers, body


def broker_answer(answer):
    """(status, details pairs) of a broker answer, checked for its format."""
    http_status, headers, body = split_http(answer)
    assert http_status == 200
    assert "Resin" in headers["Server"]
    assert headers["Connection"] == "close"
    lines = body.decode().split("\r\n")
    assert len(lines) == 5 and lines[4] == "", f"four CR LF lines: {body!r}"
    assert lines[0].startswith("StatusCode=")
    assert all("=" in line for line in lines[:4])
    details = lines[3].split("=", 1)[1]
    pairs = [tuple(item.split("=", 1)) for item in details.split("&")] if details else []
    return lines[0].split("=", 1)[1], pairs


class BrokerTestCase(unittest.TestCase):
    args = ()

    def setUp(self):
        self.broker = Broker(*self.args)

    def tearDown(self):
        code, err = self.broker.stop()
        self.assertEqual(code, 0, err)

    def page(self, path, tls=False, port=None):
        version = "SSL/3.1" if tls else "HTTP/1.0"
        return broker_answer(self.broker.exchange(device_get(path, version), tls=tls, port=port))


class SessionPages(BrokerTestCase):
    args = ("--device", "deviceUID=10.0.0.7-aa&deviceSID=77",
            "--message", "messageType=ConfigSetting&key=LogLevel&value=4&messageSID=7")

    def login(self, uid="10.0.0.7-aa"):
        return self.page(f"/asys/DeviceLogin.jsp?deviceUID={uid}&allowUpgrade=0&port=82"
                         f"&ip=10.0.0.7&yxport=0&modules=QvLoginModule.dll-1.2", tls=True)

    def test_login_is_refused_while_logged_in_and_logout_clears_it(self):
        status, details = self.login()
        self.assertEqual(status, "200")
        keys = dict(details)
        self.assertEqual(list(keys), ["brokerKey", "ip", "remoteip", "fw"])
        self.assertEqual(keys["ip"], "10.0.0.7")
        self.assertEqual(keys["remoteip"], "127.0.0.1")
        self.assertEqual(self.login()[0], "401")
        self.assertEqual(self.page("/asys/DeviceLogout.jsp?deviceUID=10.0.0.7-aa", tls=True)[0], "200")
        status, again = self.login()
        self.assertEqual(status, "200")
        self.assertEqual(dict(again)["brokerKey"], keys["brokerKey"], "the key is stable per device")
        self.assertNotEqual(dict(self.login("other")[1])["brokerKey"], keys["brokerKey"])

    def test_heartbeat_needs_a_logged_in_device_and_delivers_a_message_once(self):
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceSID=99"), ("404", []))
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceSID=77")[0], "404", "not logged in")
        self.login()
        self.assertEqual(self.broker.admin("message/someone-else?messageType=Test&messageSID=9")[0], 200)
        queued = urllib.parse.quote("messageType=DeviceSID&deviceSID=78&messageSID=8", safe="")
        self.assertEqual(self.broker.admin("message/77?" + queued)[0], 200)
        status, details = self.page("/asys/Heartbeat.jsp?deviceSID=77")
        self.assertEqual(status, "200")
        self.assertEqual(details, [("messageType", "ConfigSetting"), ("key", "LogLevel"),
                                   ("value", "4"), ("messageSID", "7"),
                                   ("messageType", "DeviceSID"), ("deviceSID", "78"),
                                   ("messageSID", "8")])
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceSID=77"), ("200", []))
        self.assertIn("someone-else messageType=Test", self.broker.admin("messages")[1])

    def test_heartbeat_by_device_uid_and_port(self):
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceUID=10.0.0.7-aa&port=82")[0], "404")
        self.login()
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceUID=10.0.0.7-aa&port=83")[0], "200")
        self.assertIn("port=83", self.broker.admin("devices")[1])

    def test_acknowledgements_and_reports_are_answered_and_kept(self):
        self.assertEqual(self.page("/asys/update.jsp?type=1&status=3&messageSID=7")[0], "200")
        self.assertEqual(self.broker.admin("acks")[1], "type=1&status=3&messageSID=7\n")
        for path in ("/asys/RecordHttpProxy.jsp?deviceUID=u&proxyID=squid%2F5.7&retcode=OK",
                     "/asys/ReportDiagnostics.jsp?domainSID=1&result=OK&deviceSID=None",
                     "/asys/UserLogout.jsp?&userSID=1&deviceSID=77&appSID=1"):
            self.assertEqual(self.page(path)[0], "200", path)
        self.assertEqual(self.page("/asys/CheckConnection.jsp?", tls=True)[0], "200")
        self.assertEqual(self.page("/asys/NoSuchPage.jsp?")[0], "404")

    def test_requests_through_a_proxy_carry_an_absolute_url(self):
        port = self.broker.plain[0]
        self.assertEqual(self.page(f"http://127.0.0.1:{port}/asys/Heartbeat.jsp?deviceSID=77")[0], "404")


class ProxyListPage(BrokerTestCase):
    args = ("--proxies", "10.1.1.1:8080;10.1.1.2:443")

    def test_lists_the_configured_relays_and_can_be_changed(self):
        self.assertEqual(self.page("/asys/ProxyList.jsp?domainSID=1&appSID=3")[1],
                         [("numyxproxies", "2"), ("yxproxies", "10.1.1.1:8080;10.1.1.2:443")])
        self.assertEqual(self.broker.admin("proxies?none")[0], 200)
        self.assertEqual(self.page("/asys/ProxyList.jsp?")[1], [("numyxproxies", "0"), ("yxproxies", "")])


class Recording(BrokerTestCase):
    def test_each_request_is_recorded_byte_for_byte_with_its_kind(self):
        plain = device_get("/asys/Heartbeat.jsp?deviceUID=a b&port=82")  # a blank, unescaped
        crlf = b"GET /asys/CheckConnection.jsp? HTTP/1.1\r\nHost: x\r\n\r\n"
        secure = device_get("/asys/CheckConnection.jsp?", "SSL/3.1")
        self.broker.exchange(plain)
        self.broker.exchange(crlf)
        self.broker.exchange(secure, tls=True, server_name="localhost")
        files = sorted(os.listdir(self.broker.record))
        self.assertEqual(files, ["000001-plain.req", "000002-plain.req", "000003-tls.req"])
        for name, sent in zip(files, (plain, crlf, secure)):
            with open(os.path.join(self.broker.record, name), "rb") as f:
                self.assertEqual(f.read(), sent)
        _, _, body = split_http(self.broker.exchange(b"GET /admin/request/1 HTTP/1.0\n\n"))
        self.assertEqual(body, plain)
        listing = self.broker.admin("requests")[1].splitlines()
        self.assertEqual(len(listing), 3, "admin requests are not recorded")
        self.assertTrue(listing[2].startswith(f"3 tls {self.broker.tls[0]} {len(secure)} status=200 GET"))

    def test_a_request_without_its_end_is_recorded_when_the_client_closes(self):
        probe = bytes([0x0C, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 0])
        sock = socket.create_connection(("127.0.0.1", self.broker.plain[0]), timeout=WAIT)
        sock.sendall(probe)
        sock.shutdown(socket.SHUT_WR)
        self.assertEqual(sock.recv(100), b"")
        sock.close()
        self.assertIn(" 12 incomplete ", self.broker.admin("requests")[1])


class PostLogUpload(BrokerTestCase):
    def upload(self, content, trailer=b""):
        preamble = (f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"domainSID\"\r\n\r\n1\r\n"
                    f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"deviceSID\"\r\n\r\n77\r\n"
                    f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"asysFile\"; "
                    f"filename=\"_Yx_Logs.log\"\r\nContent-Type: text/plain\r\n\r\n").encode()
        body = preamble + content + trailer
        header = (f"POST /asys/PostLog.jsp HTTP/1.1\n{AGENT}Host: 127.0.0.1\n"
                  f"Content-Length: {len(body)}\n"
                  f"Content-Type: multipart/form-data; boundary={BOUNDARY}\n"
                  "Connection: Keep-Alive\nCache-Control: no-cache\n \n\n").encode()
        # Header, preamble and file in separate writes, as the device sends them.
        answer = self.broker.exchange(None, chunks=[header, preamble, content, trailer])
        return header + body, broker_answer(answer)

    def stored(self):
        with open(os.path.join(self.broker.store, "_Yx_Logs.log"), "rb") as f:
            return f.read()

    def test_the_file_part_is_stored_as_sent(self):
        content = b"line one\r\nline two\n\x00binary\xff" * 5000
        sent, (status, details) = self.upload(content)
        self.assertEqual(status, "200")
        self.assertEqual(dict(details), {"file": "_Yx_Logs.log", "bytes": str(len(content))})
        self.assertEqual(self.stored(), content)
        with open(os.path.join(self.broker.record, "000001-plain.req"), "rb") as f:
            self.assertEqual(f.read(), sent)

    def test_a_closing_delimiter_is_not_part_of_the_file(self):
        self.assertEqual(self.upload(b"abc", f"\r\n--{BOUNDARY}--\r\n".encode())[1][0], "200")
        self.assertEqual(self.stored(), b"abc")


class PortFailures(BrokerTestCase):
    args = ("--port", "0:refuse", "--port", "0", "--port", "0:close",
            "--tls-port", "0", "--tls-port", "0:garbage")

    def test_each_port_fails_its_own_way_while_the_alternative_answers(self):
        refusing, working, closing = self.broker.plain
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", refusing), timeout=WAIT)
        self.assertEqual(self.page("/asys/CheckConnection.jsp?", port=working)[0], "200")
        self.assertEqual(self.broker.exchange(device_get("/asys/CheckConnection.jsp?"), port=closing), b"")
        answer = self.broker.exchange(device_get("/asys/CheckConnection.jsp?"), tls=True,
                                      port=self.broker.tls[1])
        self.assertTrue(split_http(answer)[2].startswith(b"<html>"))
        self.assertIn(" close GET", self.broker.admin("requests", port=working)[1],
                      "the closed request is recorded")


class PageFailures(BrokerTestCase):
    args = ("--fail", "Heartbeat=status=503", "--open")

    def test_rules_per_page_set_at_start_and_changed_at_run_time(self):
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceSID=1")[0], "503")
        self.assertEqual(self.page("/asys/CheckConnection.jsp?")[0], "200")
        self.assertEqual(self.broker.admin("fail?Heartbeat=none")[0], 200)
        self.assertEqual(self.page("/asys/Heartbeat.jsp?deviceSID=1")[0], "200", "--open knows it")
        self.assertEqual(self.broker.admin("fail?http=407")[0], 200)
        answer = self.broker.exchange(device_get("/asys/Heartbeat.jsp?deviceSID=1"))
        self.assertTrue(answer.startswith(b"HTTP/1.1 407 "))
        self.assertEqual(self.broker.admin("fail?update=reset")[0], 200)
        with self.assertRaises(ConnectionResetError):
            self.broker.exchange(device_get("/asys/update.jsp?type=1&status=3&messageSID=1"))
        self.assertEqual(self.broker.admin("fail?refuse")[0], 400)
        self.assertEqual(self.broker.admin("fail?clear")[0], 200)
        self.assertEqual(self.broker.admin("fail")[1], "")

    def test_a_stalled_request_gets_no_answer_and_does_not_hold_up_the_stop(self):
        self.broker.admin("fail?Heartbeat=stall")
        sock = socket.create_connection(("127.0.0.1", self.broker.plain[0]), timeout=WAIT)
        sock.sendall(device_get("/asys/Heartbeat.jsp?deviceSID=1"))
        self.broker.wait_for_record(" stall GET /asys/Heartbeat.jsp")
        sock.setblocking(False)
        with self.assertRaises(BlockingIOError):
            sock.recv(1)
        sock.setblocking(True)
        code, err = self.broker.stop(signal.SIGINT)
        self.assertEqual(code, 0, err)
        self.assertEqual(sock.recv(1), b"", "the stop ends the stalled connection")
        sock.close()
        self.broker = Broker()  # for tearDown


class CommandLine(unittest.TestCase):
    def run_qvbroker(self, *args):
        return subprocess.run([QVBROKER, *args], capture_output=True, timeout=WAIT)

    def test_bad_options_are_refused_before_listening(self):
        for args in (["--port", "70000"], ["--fail", "Heartbeat=refuse"], ["--fail", "status=abc"],
                     ["--cert", "x.pem"], ["--bogus"], ["--device", "fw=1"]):
            result = self.run_qvbroker(*args)
            self.assertNotEqual(result.returncode, 0, args)
            self.assertNotIn(b"ready", result.stdout, args)

    @unittest.skipUnless(shutil.which("curl"), "curl not installed")
    def test_curl_trusts_the_generated_ca(self):
        broker = Broker()
        try:
            for host in ("127.0.0.1", "localhost"):
                result = subprocess.run(
                    ["curl", "-sS", "--cacert", broker.ca,
                     f"https://{host}:{broker.tls[0]}/asys/CheckConnection.jsp?"],
                    capture_output=True, timeout=WAIT)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(result.stdout.startswith(b"StatusCode=200\r\n"))
        finally:
            code, err = broker.stop()
            self.assertEqual(code, 0, err)


if __name__ == "__main__":
    QVBROKER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)

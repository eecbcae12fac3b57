#!/usr/bin/env python3
"""Loopback web server for the navigation, popup and download tests.

Prints its port on the first line of standard output, then serves until
killed:
  /page.html, /page2.html   small pages with a title
  /redirect                 302 to /page2.html
  /frame.html?src=URL       a page holding URL in an iframe
  /dl/NAME?type=T&size=N&cd=F&drop=1&slow=1
                            N bytes of type T (default application/octet-stream),
                            with "attachment; filename=F" when cd is given;
                            drop sends half the body and cuts the connection;
                            slow sends it in pieces over about a second
"""
import http.server
import socketserver
import sys
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_html(self, body):
        data = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        if url.path in ("/page.html", "/page2.html"):
            name = url.path[1:-5]
            self.send_html(f"<!doctype html><title>{name}</title><p>{name}</p>")
        elif url.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/page2.html")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif url.path == "/frame.html":
            src = q.get("src", "about:blank").replace('"', "&quot;")
            self.send_html(f'<!doctype html><title>frame</title><iframe src="{src}"></iframe>')
        elif url.path.startswith("/dl/"):
            self.download(q)
        else:
            self.send_error(404)

    def download(self, q):
        size = int(q.get("size", "1000"))
        body = bytes((i * 7) % 256 for i in range(size))
        self.send_response(200)
        self.send_header("Content-Type", q.get("type", "application/octet-stream"))
        if "cd" in q:
            self.send_header("Content-Disposition", f'attachment; filename="{q["cd"]}"')
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if "drop" in q:
            self.wfile.write(body[: size // 2])
            self.wfile.flush()
            time.sleep(0.3)
            self.close_connection = True
            self.connection.shutdown(2)
            return
        if "slow" in q:
            pieces = 8
            step = max(1, size // pieces)
            for i in range(0, size, step):
                self.wfile.write(body[i:i + step])
                self.wfile.flush()
                time.sleep(0.15)
            return
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


srv = Server(("127.0.0.1", 0), Handler)
print(srv.server_address[1], flush=True)
srv.serve_forever()

"""The local web site the browsers visit to make the test profiles.

  serve.py PORT      serves on 127.0.0.1:PORT until killed; the pages:
    /page1 /page2 /page3   plain pages with a favicon; each sets a cookie
                           (qp_page1 ...) for the host it was reached by, so
                           a visit by "127.0.0.1" and one by "localhost" give
                           cookies of two hosts
    /form                  a form with two text fields (GET to /thanks), the
                           browsers' form history / autocomplete
    /thanks                where the form lands; sets qp_form
    /download              a page linking to /files/quenlo-download.txt
    /files/NAME            a small text file sent as an attachment
    /favicon.ico           a 16x16 icon (PNG data)

Everything answers on 127.0.0.1 only. The texts are ASCII so that the test
can look for them in the raw bytes of the databases.
"""
import http.server
import sys
import struct
import urllib.parse
import zlib

DOWNLOAD_NAME = "quenlo-download.txt"
DOWNLOAD_BODY = b"Quenlo test download: a small file the browser saved.\n" * 8
FORM_FIELDS = {"qp_name": "Quenlo Tester", "qp_city": "Testville"}


def png(size=16, rgb=(0x2a, 0x6f, 0xb0)):
    """A one-colour square PNG (the favicon)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    row = b"\0" + bytes(rgb) * size
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(row * size)) + chunk(b"IEND", b""))


FAVICON = png()


def page(title, body):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>"
            "<link rel='icon' href='/favicon.ico' type='image/png'></head>"
            "<body><h1>%s</h1>%s</body></html>" % (title, title, body)).encode("ascii")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def send(self, body, content_type="text/html; charset=utf-8", headers=()):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        # Cacheable for a day, so that the browsers keep cache entries.
        self.send_header("Cache-Control", "max-age=86400")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        if path in ("/page1", "/page2", "/page3"):
            name = path[1:]
            links = "".join("<p><a id='%s' href='/%s'>%s</a></p>" % (p, p, p)
                            for p in ("page1", "page2", "page3", "form", "download"))
            self.send(page("Quenlo %s" % name, links),
                      headers=[("Set-Cookie", "qp_%s=visited-%s; Max-Age=31536000; Path=/"
                                % (name, name))])
        elif path == "/form":
            fields = "".join("<p><label>%s <input type='text' id='%s' name='%s'></label></p>"
                             % (f, f, f) for f in FORM_FIELDS)
            self.send(page("Quenlo form",
                           "<form id='f' method='get' action='/thanks'>%s"
                           "<p><input type='submit' id='send' value='Send'></p></form>" % fields))
        elif path == "/thanks":
            self.send(page("Quenlo thanks", "<p>Received.</p>"),
                      headers=[("Set-Cookie", "qp_form=sent; Max-Age=31536000; Path=/")])
        elif path == "/download":
            self.send(page("Quenlo download",
                           "<p><a id='get' href='/files/%s'>the file</a></p>" % DOWNLOAD_NAME))
        elif path == "/files/" + DOWNLOAD_NAME:
            self.send(DOWNLOAD_BODY, "text/plain",
                      headers=[("Content-Disposition", "attachment; filename=\"%s\"" % DOWNLOAD_NAME)])
        elif path == "/favicon.ico":
            self.send(FAVICON, "image/png")
        else:
            body = b"not here\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    def log_message(self, fmt, *args):
        sys.stderr.write("serve: %s\n" % (fmt % args))


def main():
    port = int(sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    print("serving on 127.0.0.1:%d" % port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

// The maker's web site in tests: the loopback server that the harness runs
// (tests/site/site_server.py), serving a folder that each test fills.
#pragma once

#include <map>
#include <string>
#include <vector>

// A product's files as its site serves them: each manifest entry (relative to
// the product folder, "\" separators) with its bytes. The manifest itself is
// the entry "Resources\<product>.ini".
using ProductFiles = std::map<std::string, std::string>;

class TestSite {
public:
    // Empties the site folder and forgets earlier requests.
    TestSite();

    // A site host as the installer's site label holds it: "www.127.0.0.1:PORT".
    std::string Host() const;
    // "http://127.0.0.1:PORT/" + path (path with "/" separators).
    std::string Url(const std::string& path) const;
    // "http://127.0.0.1:PORT": the site as an HTTP proxy, for http_proxy, so
    // that a program built for the real site fetches from this one.
    std::string ProxyUrl() const;

    // Serves body at path (relative to the site root, "/" separators).
    void Put(const std::string& path, const std::string& body) const;
    // The Windows path of the file that the site serves at path.
    std::string LocalPath(const std::string& path) const;
    // Publishes files of product where its installer fetches them: each at
    // ProductPath(product, entry).
    void PutProduct(const std::string& product, const ProductFiles& files) const;
    // Where the installer of product fetches a manifest entry, relative to the
    // site root: "Updates/<product>/<entry with "/" separators>".
    static std::string ProductPath(const std::string& product, const std::string& entry);
    // Programs a fault for path, one directive a line: "status 404",
    // "truncate 100", "length 5000", "close", "delay 0.5", "stall head",
    // "stall body 100", "trickle 10" (tests/site/site_server.py says what they do).
    void Fault(const std::string& path, const std::string& directives) const;
    // Where the site's proxy tunnels CONNECT to, as long as this site lives:
    // one of the HTTPS servers of `scripts/harness tls-start` ("valid",
    // "other-name", "expired", "untrusted", "downgrade") or "stall".
    void Tunnel(const std::string& server) const;
    // The paths requested since construction, in order ("/Updates/...").
    std::vector<std::string> Requests() const;
    // The headers of those requests, in the same order: "Name: value" each.
    std::vector<std::vector<std::string>> RequestHeaders() const;
    // When the site began and ended each answer since construction, in order.
    struct AnswerEvent {
        bool began;        // false: ended
        std::string path;  // as requested ("/Updates/...")
    };
    std::vector<AnswerEvent> AnswerEvents() const;

private:
    std::string port_;
    std::string root_;        // Windows path of the served folder
    std::string requestLog_;  // Windows path of the server's request log
};

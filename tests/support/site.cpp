#include "tests/support/site.h"

#include "runtime/file_system.h"
#include "runtime/unique_handle.h"
#include "tests/support/file_bytes.h"
#include "tests/support/folder_tree.h"
#include "tests/support/log_text.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

namespace {

// Set by the harness for every program it runs (scripts/wine-run).
std::string HarnessVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(name) + " is not set: run the tests through scripts/wine-run");
    }
    return value;
}

std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace

TestSite::TestSite()
    : port_(HarnessVariable("SITE_PORT")),
      root_(HarnessVariable("SITE_ROOT")),
      requestLog_(HarnessVariable("SITE_REQUEST_LOG")) {
    RemoveTree(root_);
    CreateDirectoryA(root_.c_str(), nullptr);
    // The server appends one line per request; start from an empty log.
    runtime::UniqueFileHandle log(CreateFileA(requestLog_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) throw std::runtime_error("cannot empty the request log " + requestLog_);
    DeleteFileA((requestLog_ + ".headers").c_str());
    DeleteFileA((requestLog_ + ".open").c_str());
}

std::string TestSite::Host() const { return "www.127.0.0.1:" + port_; }

std::string TestSite::Url(const std::string& path) const { return ProxyUrl() + "/" + path; }

std::string TestSite::ProxyUrl() const { return "http://127.0.0.1:" + port_; }

void TestSite::Put(const std::string& path, const std::string& body) const { WriteFileBytes(LocalPath(path), body); }

std::string TestSite::LocalPath(const std::string& path) const { return root_ + "\\" + WindowsPath(path); }

void TestSite::PutProduct(const std::string& product, const ProductFiles& files) const {
    for (const auto& [entry, bytes] : files) Put(ProductPath(product, entry), bytes);
}

std::string TestSite::ProductPath(const std::string& product, const std::string& entry) {
    std::string path = "Updates/" + product + "/" + entry;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void TestSite::Fault(const std::string& path, const std::string& directives) const {
    WriteFileBytes(root_ + "\\" + WindowsPath(path) + ".fault", directives);
}

void TestSite::Tunnel(const std::string& server) const { WriteFileBytes(root_ + "\\.tunnel", server); }

std::vector<std::string> TestSite::Requests() const {
    return SplitLines(ReadFileBytes(requestLog_), "\n");
}

std::vector<TestSite::AnswerEvent> TestSite::AnswerEvents() const {
    std::vector<AnswerEvent> events;
    const std::string path = requestLog_ + ".open";
    if (!runtime::FileExists(path)) return events;
    for (const std::string& line : SplitLines(ReadFileBytes(path), "\n")) {
        if (line.empty()) continue;
        events.push_back({line[0] == '+', line.substr(1)});
    }
    return events;
}

std::vector<std::vector<std::string>> TestSite::RequestHeaders() const {
    std::vector<std::vector<std::string>> requests;
    const std::string path = requestLog_ + ".headers";
    if (!runtime::FileExists(path)) return requests;
    for (const std::string& line : SplitLines(ReadFileBytes(path), "\n")) {
        std::vector<std::string> fields = SplitLines(line, "\t");
        if (fields.empty()) continue;
        fields.erase(fields.begin());
        requests.push_back(fields);
    }
    return requests;
}

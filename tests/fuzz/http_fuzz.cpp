// libFuzzer target for request parsing and URL decoding.
//
// The input is split at CR LF into request lines, as the connection reader would hand them over
// (lines never contain CR LF), and parsed; the first line alone goes through UrlDecode. Besides
// memory errors (the build adds ASan and UBSan), the properties every result must have are checked:
// decoding never lengthens text, the path is the decoded target up to its first "?", every parameter
// name and value comes from the query, and serializing a response built from the request keeps its
// Content-Length equal to the body's size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ByteString.h"
#include "web/HttpServer.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t p = input.find("\r\n", start);
        if (p == std::string::npos) {
            lines.push_back(input.substr(start));
            break;
        }
        lines.push_back(input.substr(start, p - start));
        start = p + 2;
    }

    const std::string decoded = nutl::UrlDecode(lines[0]);
    Check(decoded.size() <= lines[0].size());

    nutl::HttpRequest request;
    if (nutl::ParseRequest(lines, &request)) {
        Check(request.method == nutl::MethodGet || request.method == nutl::MethodPost ||
              request.method == nutl::MethodOther);
        Check(request.url.compare(0, request.urlPath.size(), request.urlPath) == 0);
        Check(request.urlPath.find('?') == std::string::npos);
        const std::string query =
            request.urlPath.size() < request.url.size() ? request.url.substr(request.urlPath.size() + 1)
                                                        : std::string();
        for (const auto& [name, value] : request.params) {
            Check(query.find(name) != std::string::npos);
            Check(query.find(value) != std::string::npos);
            Check(request.GetParam(name) == value);
        }

        nutl::HttpResponse response;
        response.body = request.url;
        response.contentType = request.urlPath;
        for (const auto& [name, value] : request.params) response.headers[name] = value;
        const std::string bytes = nutl::SerializeResponse(response);
        Check(bytes.compare(0, 17, "HTTP/1.1 200 OK\r\n") == 0);
        Check(response.headers["Content-Length"] == std::to_string(request.url.size()));
        Check(bytes.size() >= request.url.size() &&
              bytes.compare(bytes.size() - request.url.size(), std::string::npos, request.url) == 0);
    }
    return 0;
}

// The floor of a harvest's fetching: one libcurl multi handle with the options the harvest's fetcher sets (kept
// connections, HTTP/2 shared where the server lets it, every encoding, redirects followed, SSL sessions and DNS
// shared), the same number of pages in flight, and nothing done with a page but count its bytes. What a harvest
// takes beyond this is its own reading and writing.
//
//   curl_floor URL_FILE [IN_FLIGHT]      prints "<pages> pages, <bytes> bytes, <failed> failed"
#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

size_t countBytes(char*, size_t size, size_t count, void* total)
{
    *static_cast<unsigned long long*>(total) += size * count;
    return size * count;
}

CURL* transfer(const std::string& url, CURLSH* share, unsigned long long* bytes)
{
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &countBytes);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, bytes);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    return easy;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: curl_floor URL_FILE [IN_FLIGHT]\n");
        return 2;
    }
    std::ifstream list(argv[1]);
    std::vector<std::string> urls;
    for (std::string line; std::getline(list, line);)
        if (!line.empty())
            urls.push_back(line);
    const long inFlight = argc > 2 ? std::stol(argv[2]) : 20;

    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, inFlight);
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, inFlight * 4);

    unsigned long long bytes = 0;
    size_t next = 0;
    long running = 0;
    int failed = 0;
    const auto startMore = [&] {
        for (; next < urls.size() && running < inFlight; ++next, ++running)
            curl_multi_add_handle(multi, transfer(urls[next], share, &bytes));
    };
    startMore();
    while (running > 0) {
        int active = 0;
        curl_multi_perform(multi, &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            failed += message->data.result != CURLE_OK;
            curl_multi_remove_handle(multi, message->easy_handle);
            curl_easy_cleanup(message->easy_handle);
            --running;
        }
        startMore();
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    std::printf("%zu pages, %llu bytes, %d failed\n", urls.size(), bytes, failed);
    curl_multi_cleanup(multi);
    curl_share_cleanup(share);
    curl_global_cleanup();
    return failed == 0 ? 0 : 1;
}

#pragma once

#include <curl/curl.h>

#include <string>

// The libcurl side of the fetch benchmarks: one GET on a fresh connection, set up the way
// the program's blocking client asks (Basic authentication, its User-Agent, 30 s at most),
// the body appended to *body. caFile: the test authority of an https server, if any.
// The caller performs and cleans up the handle.
inline CURL* NewCurlGet(const std::string& url, const char* userPassword, std::string* body,
                        const std::string& caFile = {})
{
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (!caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_USERPWD, userPassword);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Brimlark_Simple)");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* target) {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
    });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    return curl;
}

// That GET performed: true, with the body appended to *body, for a 200 reply.
inline bool CurlGet200(const std::string& url, const char* userPassword, std::string* body)
{
    CURL* curl = NewCurlGet(url, userPassword, body);
    const CURLcode rc = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    return rc == CURLE_OK && code == 200;
}

#pragma once

#include <QString>

#include <optional>

namespace velmar {

// What a short look at the link to the source server found.
struct LinkFacts {
    double megabytesPerSecond = 0;  // of query results arriving over the client library
    double roundTripMs = 0;         // the shortest of a few small questions
};

// Times a few small questions and answers of one to five MiB on the open shared connection (the
// source's); nothing when a question failed.
std::optional<LinkFacts> measureLink();

// Whether the dump's protocol compression pays on such a link: compressing and expanding cost
// about as much time as a link of this rate takes for the same data, and the load beside the dump
// needs the processors too.
bool compressionPays(const LinkFacts &link);

// "원본 서버 연결 측정: 11.8 MB/s, 왕복 0.4 ms, 압축 사용" (or "압축 사용 안 함").
QString linkLogLine(const LinkFacts &link, bool compress);

}  // namespace velmar

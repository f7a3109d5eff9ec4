#pragma once

#include "SqlLoader.h"

#include <QString>

namespace velmar {
class LoaderConnection;
}

namespace velmar::load {

class LoadStop;

// How the dispatcher's reading ended, besides the stop state: "" or the message of each.
struct ReadingEnd {
    QString needsClient;  // the client command found
    QString tooBig;       // the statement over max_allowed_packet
    QString readError;    // the file could not be read on
};

// What was sent, whatever the outcome.
struct SentCounts {
    qint64 statements = 0;
    int connections = 0;
    qint64 asData = 0;
};

// The result of a load that did not get to send anything.
LoadResult failedLoad(const QString &message);

// The result of a load that ran: cancelled, failed (a lost connection's message says whether the
// server still answers the loader's own connection), stopped before a client command, or loaded.
LoadResult loadOutcome(const LoadStop &stop, const ReadingEnd &end, const SentCounts &sent,
                       LoaderConnection &control, const QString &path);

}  // namespace velmar::load

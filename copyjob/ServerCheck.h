#pragma once

#include "CopyContext.h"

namespace velmar {

// Before anything is dropped or loaded: what the local server is and has, against what the source
// check found the source to use. Logs both servers and what the load will adapt, asks whether to
// go on when the source uses what cannot be adapted, and sets up the load's adapter.
class ServerCheck {
public:
    explicit ServerCheck(CopyContext &ctx) : m_ctx(ctx) { }
    // false: the copy stops (a box or the stop reason said why).
    bool run();

    // The definer the load puts in place of a missing one: the granted account, or root when the
    // copy grants nothing.
    static QByteArray definerTo(const CopyRequest &request);
    // What cannot be adapted of the source's facts on a server with these facts, one line each;
    // what will be adapted into planned.
    static QStringList unadaptable(const SourceFacts &source, const LocalFacts &local,
                                   const CopyRequest &request, QStringList &planned);

private:
    bool readLocal();
    void buildAdapter();

    CopyContext &m_ctx;
};

// "user@host" as information_schema writes a definer, split at its last "@".
std::pair<QString, QString> splitAccount(const QString &definer);

}  // namespace velmar

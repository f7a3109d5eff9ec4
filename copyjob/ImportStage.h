#pragma once

#include "CopyContext.h"

#include <functional>

namespace velmar {

class FollowedCopy;

// The import: the database made, the rewritten dump loaded by velmar's loader (by the mysql
// client when the file has client commands), the foreign-key script run, and a replaced
// database swapped for its copy. A load that does not finish drops what it made; the user's
// existing database stays whole and usable until its replacement has loaded beside it.
class ImportStage {
public:
    explicit ImportStage(CopyContext &ctx) : m_ctx(ctx) {}
    // From the rewritten dump file.
    bool run();
    // Takes over the load that followed the dump, whose database is made already.
    bool run(FollowedCopy &followed);

private:
    // Loads into the staging database with load(), runs the foreign-key script, then swaps it in
    // (replacing the user's database, or under the new name).
    bool complete(const QString &loadInto, bool replacing, const std::function<bool()> &load);
    bool loadFile(const QString &file, const QString &database);
    // What the loader's outcome means for the import: the client runs a file of client commands.
    bool settle(const LoadResult &r, const QString &file, const QString &database);
    void logFigures(const LoadResult &r);
    // The file through the mysql client: a copy adapted to the local server when the load adapts.
    bool clientLoad(const QString &file);
    // There is room for the replacement beside the old database, or the user chose to drop the
    // old one first (replacing is then false); false: the user chose to stop.
    bool roomBesideOld(qint64 bytes, bool &replacing);
    QString foreignKeyScript() const;
    bool runForeignKeys(const QString &script, const QString &database);

    CopyContext &m_ctx;
    QString m_into;  // where the rows are: the staging database, or the new one itself
    bool m_replacing = false;
};

}  // namespace velmar

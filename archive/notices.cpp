#include "archive/notices.h"

#include "archive/shown_name.h"

#include <atomic>

namespace Archive {

namespace {
std::atomic<NoticeSink> g_sink { nullptr };
} // namespace

void setNoticeSink(NoticeSink sink)
{
    g_sink = sink;
}

void say(const QString &message)
{
    if (const NoticeSink sink = g_sink)
        sink(message);
}

Failure fail(Failure failure, const QString &message)
{
    say(message);
    return failure;
}

QString shown(const QByteArray &path)
{
    return shownName(path);
}

} // namespace Archive

#include "tools/tarnwick-image/console.h"

#include "archive/shown_name.h"

#include <cstdio>
#include <unistd.h>

namespace Console {

namespace {

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void say(const QString &message)
{
    write(stderr, QStringLiteral("tarnwick-image: ") + message + QLatin1Char('\n'));
}

int fail(int exitCode, const QString &message)
{
    say(message);
    return exitCode;
}

void out(const QString &text)
{
    write(stdout, text);
}

void outPath(const QByteArray &path)
{
    std::fwrite(path.constData(), 1, std::size_t(path.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString shown(const QByteArray &path)
{
    return Archive::shownName(path);
}

void raw(const QString &text)
{
    write(stderr, text);
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace Console

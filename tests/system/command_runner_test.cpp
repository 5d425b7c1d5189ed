#include "system/command_runner.h"

#include <QDir>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(CommandRunner, ReportsStatusAndOutputAndLeaksNoDescriptors)
{
    const std::tuple<const char *, QString, QStringList, CommandResult> rows[] = { // name, script, arguments: result
        {"both streams in write order", u"echo out; echo err >&2; echo again; exit 3"_s, {}, {3, u"out\nerr\nagain\n"_s}},
        {"arguments unexpanded", u"printf '%s|' \"$@\""_s, {u"a b"_s, u"\"q\""_s, u"$HOME *"_s, u"it's"_s, u"é"_s, u""_s},
         {0, u"a b|\"q\"|$HOME *|it's|é||"_s}},
        {"megabytes", u"head -c 8000000 /dev/zero | tr '\\0' a"_s, {}, {0, QString(8000000, u'a')}},
        {"invalid UTF-8", u"printf 'ok\\377'; exit 4"_s, {}, {4, QString()}}, {"cut short", u"printf 'ok\\303'"_s, {}, {0, QString()}},
        {"descendant still writing", u"(sleep 1; echo late) & echo early"_s, {}, {0, u"early\nlate\n"_s}},
        {"killed by a signal", u"echo before; kill -TERM $$"_s, {}, {-1, u"before\n"_s, 15}}, {"own 127", u"exit 127"_s, {}, {127, QString()}},
        // Only the copies at 1 and 2 may refer to the pipe: a third would be a leaked end.
        {"no extra pipe ends", uR"sh(p=$(readlink /proc/$$/fd/1); n=0
for f in /proc/$$/fd/*; do [ "$(readlink "$f")" = "$p" ] && n=$((n+1)); done; echo $n)sh"_s, {}, {0, u"2\n"_s}},
    };
    const auto before = QDir(u"/proc/self/fd"_s).count();
    for (const auto &[name, script, arguments, expected] : rows) {
        const CommandResult result = run(u"/bin/sh"_s, QStringList{u"-c"_s, script, u"sh"_s} + arguments);
        EXPECT_EQ(std::pair(result.exitCode, result.signal), std::pair(expected.exitCode, expected.signal)) << name;
        EXPECT_TRUE(result.output == expected.output) << name << ": " << result.output.left(200).toStdString();
    }
    // Missing, not executable, a folder, and a bare name (there is no PATH search): none starts, and
    // neither these nor the runs above leave a descriptor open.
    for (const QString &tool : {u"/nonexistent/sh"_s, u"/etc/passwd"_s, u"/tmp"_s, u"sh"_s}) {
        const CommandResult result = run(tool, {u"-c"_s, u"echo ran"_s});
        EXPECT_EQ(std::tuple(result.exitCode, result.signal, result.output.isEmpty()), std::tuple(-1, 0, false)) << tool.toStdString();
    }
    EXPECT_EQ(QDir(u"/proc/self/fd"_s).count(), before);
}

}  // namespace
}  // namespace quillmere

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <set>

#include "core/HelpTopics.h"

namespace {

using namespace skiro;

// The help pages as installed beside the program.
QDir helpFolder() {
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/help"));
}

QString readPage(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

// Every topic a help request can lead to has its page: the menu commands, the dialogs, the
// contents and the general page.
TEST(HelpPages, EveryTopicARequestCanOpenHasItsPage) {
    std::set<std::uint32_t> topics = {5050};
    for (std::uint32_t command = 32784; command <= 32794; ++command)
        topics.insert(mapHelpRequest({0x10000 + command, HelpCommand::Context}).data);
    for (std::uint32_t command : {57664u, 57665u, 57666u, 57667u, 57669u})
        topics.insert(mapHelpRequest({0x10000 + command, HelpCommand::Context}).data);
    for (std::uint32_t dialog : {100u, 128u, 130u, 131u, 132u, 133u, 134u, 135u, 28678u, 28679u})
        topics.insert(mapHelpRequest({0x20000 + dialog, HelpCommand::Context}).data);
    const QDir folder = helpFolder();
    for (std::uint32_t topic : topics)
        EXPECT_TRUE(folder.exists(QStringLiteral("%1.html").arg(topic))) << topic;
}

// No page links to a page or a picture that is not there, and the contents reach every page.
TEST(HelpPages, LinksAndPicturesLeadSomewhereAndTheContentsReachEveryPage) {
    const QDir folder = helpFolder();
    const QStringList pages = folder.entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_FALSE(pages.isEmpty());
    static const QRegularExpression reference(QStringLiteral(R"re((?:href|src)="([^"#]+)")re"));
    for (const QString& page : pages) {
        const QString text = readPage(folder.filePath(page));
        for (const auto& match : reference.globalMatch(text)) {
            const QString target = match.captured(1);
            if (target.startsWith(QStringLiteral("http")))
                continue;
            EXPECT_TRUE(folder.exists(target))
                << page.toStdString() << " -> " << target.toStdString();
        }
    }
    const QString contents = readPage(folder.filePath(QStringLiteral("5050.html")));
    for (const QString& page : pages) {
        if (page == QStringLiteral("5050.html"))
            continue;
        EXPECT_TRUE(contents.contains(QStringLiteral("href=\"%1\"").arg(page)))
            << page.toStdString();
    }
}

} // namespace

// The polkit action pkexec asks with: a well-formed action file whose exec
// path is where `make install` puts the helper, installed where polkit
// looks for actions.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QXmlStreamReader>
#include <cstdlib>
#include <map>

#include "tests/support/temp_dir.h"

namespace {

struct Action {
    bool wellFormed = false;
    QString id;
    std::map<QString, QString> defaults;
    std::map<QString, QString> annotations;
    QStringList messages;
};

Action readPolicy(const QString& path)
{
    Action a;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return a;
    QXmlStreamReader xml(&file);
    QString annotateKey;
    bool inDefaults = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"defaults") inDefaults = false;
        if (!xml.isStartElement()) continue;
        const auto name = xml.name();
        if (name == u"action") a.id = xml.attributes().value("id").toString();
        if (name == u"defaults") inDefaults = true;
        if (name == u"annotate") {
            const QString key = xml.attributes().value("key").toString();
            a.annotations[key] = xml.readElementText();
        } else if (name == u"message") {
            a.messages << xml.readElementText();
        } else if (inDefaults && name != u"defaults") {
            a.defaults[name.toString()] = xml.readElementText();
        }
    }
    a.wellFormed = !xml.hasError();
    return a;
}

const char* const kExecPath = "org.freedesktop.policykit.exec.path";

TEST(PolkitPolicy, TheActionAsksOnceForAWhileAndNamesTheInstalledHelper)
{
    const Action a = readPolicy(QStringLiteral(QUILLON_POLKIT_POLICY));
    ASSERT_TRUE(a.wellFormed);
    EXPECT_EQ(a.id, "org.quillon.portmon");
    for (const char* when : {"allow_any", "allow_inactive", "allow_active"})
        EXPECT_EQ(a.defaults.at(when), "auth_admin_keep") << when;
    EXPECT_EQ(a.annotations.at(kExecPath), QStringLiteral(QUILLON_PORTMON_INSTALLED));
    ASSERT_EQ(a.messages.size(), 2);
    for (const QString& m : a.messages) EXPECT_FALSE(m.trimmed().isEmpty());
}

TEST(PolkitPolicy, MakeInstallPutsTheActionWherePolkitReadsItAndTheHelperWhereItPoints)
{
    quillon::test::TempDir root;
    const std::string command =
        std::string("DESTDIR=") + root.path() + " '" QUILLON_CMAKE "' --install '" + QUILLON_BUILD_DIR + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string installed =
        root.path() + QUILLON_INSTALL_PREFIX "/share/polkit-1/actions/org.quillon.portmon.policy";
    const Action a = readPolicy(QString::fromStdString(installed));
    ASSERT_TRUE(a.wellFormed) << installed;
    const std::string helper = root.path() + a.annotations.at(kExecPath).toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(helper.c_str(), &st), 0) << helper;
    EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR)) << helper;
    // The program starts the helper from its own folder: the path pkexec is given.
    const std::string program = helper.substr(0, helper.rfind('/')) + "/quillon";
    EXPECT_EQ(::access(program.c_str(), X_OK), 0) << program;
}

} // namespace

// qt_view_help.cpp: what F1 opens, the registered help file or Zentrel's own guide.
#include "ui/qt/qt_view_help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>

namespace zentrel::ui {

HelpViewer::HelpViewer(QWidget *owner) : m_owner(owner) {}

HelpViewer::~HelpViewer() = default;

QTextBrowser *HelpViewer::guide() const
{
    return m_guide;
}

QString findHelpFile(const std::string &helpFile)
{
    // Only a bare name counts: nothing outside the current directory is opened.
    const QString name = QFileInfo(QString::fromLocal8Bit(helpFile.c_str())).fileName();
    if (name.isEmpty())
        return {};
    const QDir here = QDir::current();
    if (QFileInfo(here, name).isFile())
        return here.absoluteFilePath(name);
    const QStringList files = here.entryList(QDir::Files | QDir::Hidden);
    for (const QString &file : files)
        if (file.compare(name, Qt::CaseInsensitive) == 0)
            return here.absoluteFilePath(file);
    return {};
}

void HelpViewer::open(const std::string &helpFile)
{
    const QString path = findHelpFile(helpFile);
    if (!path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return;
    showGuide();
}

void HelpViewer::showGuide()
{
    if (!m_guide) {
        m_guide = new QTextBrowser(m_owner);
        m_guide->setWindowFlags(Qt::Window);
        m_guide->setObjectName(QStringLiteral("ZentrelHelp"));
        m_guide->setWindowTitle(QStringLiteral("Zentrel Help"));
        m_guide->setOpenLinks(true);
        m_guide->setOpenExternalLinks(false);
        m_guide->setSource(QUrl(QStringLiteral("qrc:/zentrel/zentrel-help.html")));
        m_guide->resize(560, 520);
    }
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
}

void HelpViewer::hide()
{
    if (m_guide)
        m_guide->hide();
}

} // namespace zentrel::ui

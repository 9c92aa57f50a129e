// qt_view_text_accessible.cpp: what a screen reader is told of a text panel's content.
#include "ui/qt/qt_view_text_accessible.h"

#include "ui/qt/qt_view_text.h"

#include <QAccessibleWidget>

namespace zentrel::ui {

namespace {

// Read-only multi-line text whose value is the lines in sight: the name and
// description come from the widget, as for every other element.
class AccessiblePanel : public QAccessibleWidget
{
public:
    explicit AccessiblePanel(TextPanel *panel) : QAccessibleWidget(panel, QAccessible::EditableText) {}

    QString text(QAccessible::Text what) const override
    {
        if (what == QAccessible::Value)
            return static_cast<const TextPanel *>(widget())->textInSight();
        return QAccessibleWidget::text(what);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }
};

QAccessibleInterface *panelInterface(const QString &className, QObject *object)
{
    if (auto *panel = qobject_cast<TextPanel *>(object);
        panel && className == QLatin1String(TextPanel::staticMetaObject.className()))
        return new AccessiblePanel(panel);
    return nullptr;
}

} // namespace

void installAccessiblePanels()
{
    static const bool installed = [] {
        QAccessible::installFactory(panelInterface);
        return true;
    }();
    (void)installed;
}

} // namespace zentrel::ui

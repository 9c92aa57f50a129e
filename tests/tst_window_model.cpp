// tst_window_model.cpp: the window model's elements and their initial state.
#include "ui/window_model.h"

#include <QTest>

using namespace zentrel;

class tst_WindowModel : public QObject
{
    Q_OBJECT
private slots:
    void elements_haveUniqueNames();
};

void tst_WindowModel::elements_haveUniqueNames()
{
    ui::ZentrelFRM form;
    QSet<QString> names;
    for (platform::Element *element : form.elements())
        names.insert(QString::fromStdString(element->name()));
    QCOMPARE(names.size(), int(form.elements().size()));
    QCOMPARE(form.height(), ui::CompactHeight);
}

QTEST_GUILESS_MAIN(tst_WindowModel)
#include "tst_window_model.moc"

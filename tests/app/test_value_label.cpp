#include "NumberText.h"
#include "ValueLabel.h"
#include "WindowLook.h"

#include <QBackingStore>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <qpa/qplatformbackingstore.h>

#include <type_traits>

namespace {
// What a label shows, painted at a device pixel ratio, `at` logical pixels
// from the corner of a surface.
QImage painted(QLabel &label, qreal ratio, const QPoint &at)
{
    QImage image((label.size() + QSize(at.x(), at.y())) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    label.render(&image, at);
    return image;
}

// A window of paper with one label at (3, 1): a QLabel that paints itself,
// or a value label that the window paints, as the program's window does.
template <typename Label> class Holder : public QWidget {
  public:
    Label *label;

    Holder()
    {
        resize(68, 14);
        const QRect place(3, 1, 65, 13);
        if constexpr (std::is_same_v<Label, ValueLabel>) {
            label = new ValueLabel(place, this);
        } else {
            label = new QLabel(this);
            label->setGeometry(place);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
    }

  protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), palette().color(QPalette::Window));
        if constexpr (std::is_same_v<Label, ValueLabel>)
            label->paintOnParent(painter, event->rect());
    }
};

template <typename Label> QImage painted(Holder<Label> &holder, qreal ratio)
{
    QImage image(holder.size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    holder.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}
} // namespace

class TestValueLabel : public QObject {
    Q_OBJECT

  private slots:
    // Every kind of text the value labels show, in the window's font and in
    // others, at whole and fractional scales and at odd places on the
    // surface, painted by the label or by its parent, pixel for pixel as
    // QLabel paints it; texts outside the table (a host name, a wide count)
    // too.
    void paintsExactlyWhatQLabelPaints()
    {
        QStringList texts{"0",         " 0",       "-1",          "0 ms",  "0 %",  "100 %",
                          "-32768 ms", "99999 ms", " 2147483647", "1E+15", "é ms", ""};
        for (int i = 1; i < 2000; i += 37) {
            texts << QString::fromStdString(countText(i)) << QString::fromStdString(msText(i))
                  << QString::fromStdString(percentText(i % 101));
        }
        QFont serif("DejaVu Serif");
        serif.setPixelSize(13);
        for (const QFont &font : {windowFont(), serif, QFont()}) {
            QWidget parent;
            parent.setFont(font);
            QLabel plain(&parent);
            plain.setGeometry(0, 0, 65, 13);
            plain.setAlignment(Qt::AlignLeft | Qt::AlignTop);
            ValueLabel value({0, 0, 65, 13}, &parent);
            Holder<QLabel> byQLabel;
            Holder<ValueLabel> byWindow;
            byQLabel.setFont(font);
            byWindow.setFont(font);
            for (const QString &text : texts) {
                plain.setText(text);
                value.setText(text);
                byQLabel.label->setText(text);
                byWindow.label->setValue(text);
                for (qreal ratio : {1.0, 1.5, 2.0}) {
                    for (const QPoint at : {QPoint(0, 0), QPoint(3, 1)}) {
                        if (painted(value, ratio, at) != painted(plain, ratio, at))
                            QFAIL(qPrintable(QString("\"%1\" at %2x, (%3, %4) in %5 differs")
                                                 .arg(text)
                                                 .arg(ratio)
                                                 .arg(at.x())
                                                 .arg(at.y())
                                                 .arg(font.family())));
                    }
                    if (painted(byWindow, ratio) != painted(byQLabel, ratio))
                        QFAIL(qPrintable(
                            QString("\"%1\" at %2x in %3, painted by the parent, differs")
                                .arg(text)
                                .arg(ratio)
                                .arg(font.family())));
                }
            }
        }
    }

    // A new value repaints its label from the first character that changed:
    // what the screen then holds is what painting all of it gives, for texts
    // that grow, shrink, change from the start, or are not in the table.
    void aNewValueRepaintsWhatChangedOnly()
    {
        Holder<ValueLabel> holder;
        holder.setFont(windowFont());
        holder.show();
        QVERIFY(QTest::qWaitForWindowExposed(&holder));
        for (const QString text :
             {" 1", " 2", " 10", " 19", " 100", " 99", "0 %", "100 %", "7 %", "-32768 ms", "5 ms",
              " 2147483647", " 2147483600", "\u00e9 ms", "1E+15", "11", "1", ""}) {
            holder.label->setValue(text);
            QTest::qWait(20);
            // What the window holds, in device pixels, as it goes to the screen.
            const QImage onScreen = holder.backingStore()->handle()->toImage();
            const QImage whole = holder.grab().toImage();
            if (onScreen.convertToFormat(QImage::Format_RGB32) !=
                whole.convertToFormat(QImage::Format_RGB32))
                QFAIL(qPrintable(QString("\"%1\" at %2x shows otherwise")
                                     .arg(text)
                                     .arg(holder.devicePixelRatioF())));
        }
    }
};

QTEST_MAIN(TestValueLabel)
#include "test_value_label.moc"

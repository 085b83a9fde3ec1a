#pragma once

#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

// Watches the application's message boxes: records each box as it is shown, tracks how many
// are visible at once (from show and hide events, so no short-lived box is missed) and can
// close each box some time after it appeared.
class BoxWatcher : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    // closeAfterMs < 0: never close; 0: close as soon as seen.
    explicit BoxWatcher(int closeAfterMs = 0, QObject* parent = nullptr);
    ~BoxWatcher() override;

    QList<Box> boxes() const { return m_boxes; }
    QStringList texts() const
    {
        QStringList all;
        for (const Box& box : m_boxes)
            all << box.text;
        return all;
    }
    // How a due box is closed: a close request, or real input to its window as a user gives it
    // (input the program holds back leaves the box open; after 5 s it is closed and counted in
    // forcedClosures()).
    enum class Answer { Close, Enter, ClickOk };
    void setAnswer(Answer answer) { m_answer = answer; }
    int forcedClosures() const { return m_forced; }

    int mostOpenAtOnce() const { return m_mostOpen; }
    int openNow() const { return m_open; }
    void setCloseAfter(int ms) { m_closeAfterMs = ms; }
    void closeAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void closeDue();
    void answer(QMessageBox* box);

    QList<Box> m_boxes;
    QList<QPair<QPointer<QMessageBox>, qint64>> m_shownAt;
    int m_open = 0;
    int m_mostOpen = 0;
    int m_closeAfterMs;
    Answer m_answer = Answer::Close;
    int m_forced = 0;
    QHash<const QMessageBox*, qint64> m_answeredAt;
    QTimer m_timer;
};

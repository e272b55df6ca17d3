#pragma once

#include <QImage>
#include <QWidget>

// The manual send window's thumbnail (110 x 82.5 pixels, shown as 110 x 83): the grabbed picture
// stretched into it, crossed out by two red lines while no picture is to be attached.
class MailThumbnail : public QWidget {
    Q_OBJECT
public:
    explicit MailThumbnail(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }

    void setCrossed(bool crossed);
    bool crossed() const { return m_crossed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    bool m_crossed = false;
};

#pragma once
// A read-only text view for very long listings (a million one-byte lines):
// it keeps the text as one string with a line index and paints only the
// visible lines, where a text document would build a block per line.

#include <QAbstractScrollArea>
#include <QString>
#include <vector>

namespace quillon::hexbin {

class LargeTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LargeTextView(QWidget* parent = nullptr);

    void setPlainText(const QString& text);
    const QString& toPlainText() const { return text_; }
    void clear() { setPlainText(QString()); }
    // Lines as a memo counts them: a final line break starts an empty line.
    int lineCount() const { return static_cast<int>(starts_.size()); }
    QString line(int i) const;

    void selectAll();
    void clearSelection();
    bool hasSelection() const { return allSelected_ && !text_.isEmpty(); }
    // Puts the selected text on the clipboard.
    void copy() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void updateScrollBars();
    int lineHeight() const;
    int tabWidth() const;
    int lineWidth(const QString& text) const;
    QString text_;
    std::vector<int> starts_;
    bool allSelected_ = false;
};

} // namespace quillon::hexbin

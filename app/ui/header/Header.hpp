#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <QWidget>

#include <memory>

class QLabel;

namespace marrowdale {

class CapsuleButtonStyle;
class ObservationBridge;
class ScanButton;

// The top row of the home screen: the brand logo on the left; on the right the scan button with a
// status line under it, the hint about scanning or the size of what is selected.
class Header : public QWidget {
public:
    explicit Header(std::shared_ptr<Cleaner> cleaner, QWidget* parent = nullptr);
    ~Header() override;

    ScanButton& scanButton() const { return *scanButton_; }
    QLabel& status() const { return *status_; }
    // Draws pending changes of the cleaner now.
    void flush();

private:
    void refresh();

    std::shared_ptr<Cleaner> cleaner_;
    std::unique_ptr<CapsuleButtonStyle> buttonStyle_;
    ScanButton* scanButton_;
    QLabel* status_;
    ObservationBridge* bridge_;
};

} // namespace marrowdale

#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <QWidget>

#include <memory>

class QLabel;

namespace marrowdale {

class DiskSpaceGraph;
class ObservationBridge;
struct FooterPresentation;

// The bottom row of the home screen: the startup volume as a bar of used and free space, and
// under it a tick and the volume's name and total capacity.
class Footer : public QWidget {
public:
    explicit Footer(std::shared_ptr<Cleaner> cleaner, QWidget* parent = nullptr);

    // Shows `shown` in place of the cleaner's figures until the cleaner next changes.
    void present(const FooterPresentation& shown);

    DiskSpaceGraph& graph() const { return *graph_; }
    QWidget& placeholder() const { return *placeholder_; }
    QLabel& name() const { return *name_; }
    QLabel& separator() const { return *separator_; }
    QLabel& total() const { return *total_; }
    // Draws pending changes of the cleaner now.
    void flush();

private:
    void refresh();

    std::shared_ptr<Cleaner> cleaner_;
    DiskSpaceGraph* graph_;
    QWidget* placeholder_;
    QLabel* name_;
    QLabel* separator_;
    QLabel* total_;
    ObservationBridge* bridge_;
};

} // namespace marrowdale

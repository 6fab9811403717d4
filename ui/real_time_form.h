// The real-time monitor. Only its frame exists so far: the connection view
// and its log are built with the monitor itself.
#pragma once

#include <boost/shared_ptr.hpp>

#include <QDialog>

#include "low_level.h"

class TRealTimeForm : public QDialog {
    Q_OBJECT
  public:
    explicit TRealTimeForm(QWidget* parent = nullptr);
    // The exchange-link context the monitor works on; set before each showing.
    void SetLink(boost::shared_ptr<TLowLevel> link) { link_ = std::move(link); }
    boost::shared_ptr<TLowLevel> Link() const { return link_; }

  private:
    boost::shared_ptr<TLowLevel> link_;
};

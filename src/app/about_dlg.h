#pragma once
// The About box: the product line, version, maker and contact, and an OK button.
#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(QWidget* parent, int langBase);
};

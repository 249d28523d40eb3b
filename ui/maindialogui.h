#pragma once

#include "ui_maindialog.h"

// The widget tree of the settings window, generated from maindialog.ui. MainDialog owns one
// and reaches every widget and layout through its members.
class MainDialogUi final : public Ui::MainDialog
{
};

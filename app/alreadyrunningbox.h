#pragma once

// The one message Kavri ever shows on its own: a second copy tells the user that the first
// one is running. Modal; returns when the user has dismissed it.
namespace AlreadyRunningBox {

void show();

} // namespace AlreadyRunningBox

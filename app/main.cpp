// quorvane: similarity transform between two sets of geographic reference points.
#include "app/run/registration_run.h"

int main(int argc, char* argv[]) { return Quorvane::RunRegistration(argc, argv); }

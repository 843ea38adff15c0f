// sleep-baseline: waits as long as palette-probe waits after starting the
// camera, through the same sleep call, and does nothing else. bench/run times
// it next to the probe; the difference between the two is the probe's own
// cost beyond its fixed wait.
#include "platform.h"

int main() {
    sleepMilliseconds(3000);
    return 0;
}

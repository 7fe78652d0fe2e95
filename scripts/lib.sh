# Sourced by the scripts (and .ci/run) for what they share:
#   velmar_root   the repository's root folder
#   VELMAR_JOBS   how many compile and test jobs run at once: the one setting of
#                 parallelism, exported for the tools the scripts start (setup.py reads it);
#                 by default the number of processors (nproc).
velmar_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VELMAR_JOBS="${VELMAR_JOBS:-$(nproc)}"
export VELMAR_JOBS

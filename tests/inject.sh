#!/bin/bash
# inject.sh PATH CALLS FAULT WHEN COMMAND...: lib.sh's inject as a command,
# for the golden cases' run files ($INJECT).
source "$(dirname "$0")/lib.sh" && inject "$@"

#!/bin/bash
# Regenerates the starting models data/newuser.usr and data/delta.usr from scratch:
# the synthetic corpus (kept in corpus/, outside version control; files already made are
# reused), then the trainer. Run from anywhere; BUILD names the build directory (default build).
#
#   tools/train/make_models.sh [trainer options...]
set -e -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build}
cd "$root"
python3 tools/basevoc/make_basevoc.py
python3 tools/corpus/build_corpus.py --out "$root/corpus"
cmake --build "$build" --target train
# The trainer's figures are shown and kept in corpus/train.log. Every training utterance is also
# heard through the filter banks of warp bins 53 and 50 (a longer vocal tract heard as a shorter
# one), which brings the models towards the higher formants of speakers they have not heard; a
# speaker who has not enrolled is heard through the bank of bin 61, between typical male and
# female voices. Each context's template is drawn towards its group's as if the group gave 500
# frames: the coarticulation of the synthetic voices is kept where it was heard often and
# damped where it was not (docs/training.md).
"$build/bin/train" --corpus "$root/corpus" --newuser data/newuser.usr --delta data/delta.usr --warps 50,53,58 \
  --stored-warp 61 --shrink 500 "$@" 2>&1 | tee "$root/corpus/train.log"

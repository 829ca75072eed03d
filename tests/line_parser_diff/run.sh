#!/bin/sh
# Differential check of the option-table line parser against the parser it replaced
# (config/line_parser.cpp at 222d065, compiled into namespace legacy). Usage:
#   tests/line_parser_diff/run.sh [LINES]          generated lines and the fuzz seeds
#   tests/line_parser_diff/run.sh fuzz [SECONDS]   libFuzzer on top (clang++)
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$root/build/line_parser_diff"
mkdir -p "$out/corpus"
git -C "$root" show 222d065:config/line_parser.cpp | python3 -c '
import sys
s = sys.stdin.read()
m = "#include \"config/numbers.h\"\n"
head, body = s.split(m, 1)
sys.stdout.write(head + m + "\nnamespace legacy {\nbool readHex(const char*& cursor, uint32_t& value);\n"
                 + body + "\n}  // namespace legacy\n")' > "$out/legacy.cpp"
src="$root/config/items.cpp $root/config/numbers.cpp $root/config/line_parser.cpp $root/config/line_notes.cpp $root/devices/models.cpp"
san="-fsanitize=address,undefined -fno-sanitize-recover=all"
if [ "$1" = fuzz ]; then
  clang++ -std=c++17 -O1 -g -DFUZZ -fsanitize=fuzzer $san -I"$root" -o "$out/fuzzdiff" \
    "$here/diff.cpp" "$out/legacy.cpp" $src
  cp "$root"/tests/fuzz/corpus/line_parser/* "$out/corpus/"
  "$out/fuzzdiff" -max_total_time="${2:-60}" -max_len=700 "$out/corpus"
else
  g++ -std=c++17 -O1 -g $san -I"$root" -o "$out/diff" "$here/diff.cpp" "$out/legacy.cpp" $src
  "$out/diff" "${1:-400000}" "$root"/tests/fuzz/corpus/line_parser/*
fi

#!/usr/bin/env bash
# Builds the renderer page (renderer/dist) from renderer/ with its pinned npm
# packages. Installs the packages with `npm ci` only when node_modules is
# missing or the lockfile changed since the last install. Quiet on success;
# safe to run again.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
renderer="$root/renderer"

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "build-renderer: node and npm are needed (scripts/setup.sh installs them)" >&2
    exit 1
fi

cd "$renderer"
stamp="node_modules/.larkspin-lockfile.sha256"
want="$(sha256sum package-lock.json | cut -d' ' -f1)"
have="$(cat "$stamp" 2>/dev/null || true)"

if [ ! -d node_modules ] || [ "$want" != "$have" ]; then
    log="$(mktemp)"
    if ! npm ci --no-audit --no-fund --loglevel=error >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "build-renderer: npm ci failed" >&2
        exit 1
    fi
    rm -f "$log"
    echo "$want" >"$stamp"
fi

npm run --silent build

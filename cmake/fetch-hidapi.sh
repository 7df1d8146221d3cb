#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fetches the source of hidapi from Debian's source package, checks it
# against the checksum kept in the repository and unpacks it.
#   cmake/fetch-hidapi.sh DEST_DIR VERSION SHA256
# apt runs with a private configuration in DEST_DIR: a deb-src list made
# from the machine's own apt sources (one-line and deb822 formats), its own
# package lists and cache. The system's apt configuration is not touched.
# A tarball already in DEST_DIR with the right checksum is used as it is.
# The sources end up in DEST_DIR/hidapi-hidapi-VERSION.
set -euo pipefail
dest=$1 version=$2 sum=$3
tarball=$dest/hidapi_$version.orig.tar.gz
mkdir -p "$dest"

verified() { [ -f "$tarball" ] && echo "$sum  $tarball" | sha256sum --check --status; }

if ! verified; then
    apt_dir=$dest/apt
    rm -rf "$apt_dir"
    mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" \
        "$apt_dir/download"
    # deb822 files: every "Types:" line that lists deb also gets deb-src.
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed -E 's/^(Types:.*\<deb\>.*)$/\1 deb-src/' "$f" >"$apt_dir/parts/$(basename "$f")"
    done
    # One-line lists: every deb line is repeated as a deb-src line.
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$apt_dir/parts/sources.list"
    done
    opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/parts"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root" -qq)
    apt-get "${opts[@]}" update >"$apt_dir/update.log" 2>&1 ||
        { cat "$apt_dir/update.log" >&2; exit 1; }
    (cd "$apt_dir/download" && apt-get "${opts[@]}" source --download-only hidapi) >&2
    cp "$apt_dir/download/hidapi_$version.orig.tar.gz" "$tarball"
    rm -rf "$apt_dir"
    if ! verified; then
        echo "hidapi_$version.orig.tar.gz does not have the expected checksum $sum" >&2
        rm -f "$tarball"
        exit 1
    fi
fi
rm -rf "$dest/hidapi-hidapi-$version"
tar -xzf "$tarball" -C "$dest"

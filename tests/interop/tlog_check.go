// Checks the audit log's checkpoints and proofs with Go's transparency-log
// packages (golang.org/x/mod/sumdb/tlog and .../note), as an auditor with
// other tools would: the tree hash of the leaves, each checkpoint's signed
// note, each inclusion proof against its leaf and checkpoint, and each
// consistency proof between its two checkpoints.
//
//	go run tlog_check.go PUBLIC_KEY_HEX LEAVES FILE...
//
// LEAVES holds the log's leaves, base64, one per line. Prints "root N HASH"
// for the leaves, then one line per FILE: "FILE ok" or "FILE fail: why".
package main

import (
	"bufio"
	"bytes"
	"crypto/ed25519"
	"encoding/base64"
	"encoding/hex"
	"errors"
	"fmt"
	"os"
	"strconv"
	"strings"

	"golang.org/x/mod/sumdb/note"
	"golang.org/x/mod/sumdb/tlog"
)

// The log's hashes as tlog stores them while the leaves are appended.
type store []tlog.Hash

func (s store) ReadHashes(indexes []int64) ([]tlog.Hash, error) {
	hashes := make([]tlog.Hash, len(indexes))
	for i, index := range indexes {
		hashes[i] = s[index]
	}
	return hashes, nil
}

type checkpoint struct {
	size int64
	root tlog.Hash
}

// Opens a checkpoint under the key, named by the note's own origin.
func openCheckpoint(text []byte, key ed25519.PublicKey) (checkpoint, error) {
	origin, _, _ := strings.Cut(string(text), "\n")
	vkey, err := note.NewEd25519VerifierKey(origin, key)
	if err != nil {
		return checkpoint{}, err
	}
	verifier, err := note.NewVerifier(vkey)
	if err != nil {
		return checkpoint{}, err
	}
	opened, err := note.Open(text, note.VerifierList(verifier))
	if err != nil {
		return checkpoint{}, err
	}
	lines := strings.Split(opened.Text, "\n")
	if len(lines) != 4 || lines[0] != origin {
		return checkpoint{}, errors.New("not a checkpoint of three lines")
	}
	size, err := strconv.ParseInt(lines[1], 10, 64)
	if err != nil {
		return checkpoint{}, err
	}
	root, err := tlog.ParseHash(lines[2])
	if err != nil {
		return checkpoint{}, err
	}
	return checkpoint{size, root}, nil
}

// Splits a proof into its header lines, its hashes and what follows the
// empty line after them.
func splitProof(text []byte, labels int) ([]string, []tlog.Hash, []byte, error) {
	end := bytes.Index(text, []byte("\n\n"))
	if end < 0 {
		return nil, nil, nil, errors.New("no empty line")
	}
	lines := strings.Split(string(text[:end]), "\n")
	if len(lines) < labels {
		return nil, nil, nil, errors.New("too few lines")
	}
	var hashes []tlog.Hash
	for _, line := range lines[labels:] {
		hash, err := tlog.ParseHash(line)
		if err != nil {
			return nil, nil, nil, err
		}
		hashes = append(hashes, hash)
	}
	return lines[:labels], hashes, text[end+2:], nil
}

func checkInclusion(text []byte, key ed25519.PublicKey) error {
	labels, path, rest, err := splitProof(text, 3)
	if err != nil {
		return err
	}
	if !strings.HasPrefix(labels[1], "extra ") {
		return errors.New("no extra line")
	}
	leaf, err := base64.StdEncoding.DecodeString(strings.TrimPrefix(labels[1], "extra "))
	if err != nil {
		return err
	}
	if !strings.HasPrefix(labels[2], "index ") {
		return errors.New("no index line")
	}
	index, err := strconv.ParseInt(strings.TrimPrefix(labels[2], "index "), 10, 64)
	if err != nil {
		return err
	}
	tree, err := openCheckpoint(rest, key)
	if err != nil {
		return err
	}
	return tlog.CheckRecord(path, tree.size, tree.root, index, tlog.RecordHash(leaf))
}

func checkConsistency(text []byte, key ed25519.PublicKey) error {
	_, proof, rest, err := splitProof(text, 1)
	if err != nil {
		return err
	}
	// The older note ends with its signature lines, then an empty line.
	body := bytes.Index(rest, []byte("\n\n"))
	if body < 0 {
		return errors.New("no older checkpoint")
	}
	end := bytes.Index(rest[body+2:], []byte("\n\n"))
	if end < 0 {
		return errors.New("no newer checkpoint")
	}
	end += body + 3
	older, err := openCheckpoint(rest[:end], key)
	if err != nil {
		return err
	}
	newer, err := openCheckpoint(rest[end+1:], key)
	if err != nil {
		return err
	}
	return tlog.CheckTree(proof, newer.size, newer.root, older.size, older.root)
}

func main() {
	if len(os.Args) < 3 {
		fmt.Fprintln(os.Stderr, "usage: tlog_check PUBLIC_KEY_HEX LEAVES FILE...")
		os.Exit(2)
	}
	key, err := hex.DecodeString(os.Args[1])
	if err != nil || len(key) != ed25519.PublicKeySize {
		fmt.Fprintln(os.Stderr, "tlog_check: not a public key:", os.Args[1])
		os.Exit(2)
	}
	leaves, err := os.Open(os.Args[2])
	if err != nil {
		fmt.Fprintln(os.Stderr, "tlog_check:", err)
		os.Exit(2)
	}
	var hashes store
	count := int64(0)
	scanner := bufio.NewScanner(leaves)
	scanner.Buffer(nil, 1<<20)
	for scanner.Scan() {
		leaf, err := base64.StdEncoding.DecodeString(scanner.Text())
		if err != nil {
			fmt.Fprintln(os.Stderr, "tlog_check: leaf", count, err)
			os.Exit(2)
		}
		stored, err := tlog.StoredHashes(count, leaf, hashes)
		if err != nil {
			fmt.Fprintln(os.Stderr, "tlog_check:", err)
			os.Exit(2)
		}
		hashes = append(hashes, stored...)
		count++
	}
	root, err := tlog.TreeHash(count, hashes)
	if err != nil {
		fmt.Fprintln(os.Stderr, "tlog_check:", err)
		os.Exit(2)
	}
	fmt.Printf("root %d %s\n", count, root)

	for _, path := range os.Args[3:] {
		text, err := os.ReadFile(path)
		if err == nil {
			switch {
			case bytes.HasPrefix(text, []byte("c2sp.org/tlog-proof@v1\n")):
				err = checkInclusion(text, key)
			case bytes.HasPrefix(text, []byte("tlog-consistency-proof@v1\n")):
				err = checkConsistency(text, key)
			default:
				var tree checkpoint
				tree, err = openCheckpoint(text, key)
				// The checkpoint's root, recomputed from the leaves. (tlog
				// gives the empty tree zeros, where RFC 6962 hashes nothing.)
				if err == nil && tree.size > 0 && tree.size <= count {
					var want tlog.Hash
					want, err = tlog.TreeHash(tree.size, hashes)
					if err == nil && want != tree.root {
						err = fmt.Errorf("root %s, the leaves give %s", tree.root, want)
					}
				}
			}
		}
		if err != nil {
			fmt.Printf("%s fail: %v\n", path, err)
		} else {
			fmt.Printf("%s ok\n", path)
		}
	}
}
